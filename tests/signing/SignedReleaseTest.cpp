#include "UpdateManager/signing/SignedRelease.h"

#include <gtest/gtest.h>

#include <string>

using namespace Veltora::UpdateManager;

namespace
{
const std::string emptyFileSha256 =
    "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

SignedRelease sampleRelease()
{
    return SignedRelease{"ABC", "linux", "2.0.1", 123456, emptyFileSha256};
}
} // namespace

TEST(SignedRelease, CanonicalTextIsSixLinesEachEndedByALineFeed)
{
    EXPECT_EQ(sampleRelease().canonicalText(), "veltora-release-signature-v1\n"
                                               "sku=ABC\n"
                                               "platform=linux\n"
                                               "version=2.0.1\n"
                                               "size=123456\n"
                                               "sha256=" +
                                                   emptyFileSha256 + "\n");
}

TEST(SignedRelease, SizesAreWrittenInPlainDecimal)
{
    SignedRelease release = sampleRelease();
    release.size = 0;
    EXPECT_NE(release.canonicalText()->find("\nsize=0\n"), std::string::npos);
    release.size = 18446744073709551615u;
    EXPECT_NE(release.canonicalText()->find("\nsize=18446744073709551615\n"), std::string::npos);
}

// Texts are taken byte for byte: a blank or a letter's case is part of what is signed.
TEST(SignedRelease, KeepsFieldTextsAsTheyAre)
{
    SignedRelease release = sampleRelease();
    release.sku = "a b=c";
    release.version = " 2.0 ";
    const std::string text = *release.canonicalText();
    EXPECT_NE(text.find("\nsku=a b=c\n"), std::string::npos);
    EXPECT_NE(text.find("\nversion= 2.0 \n"), std::string::npos);
}

// Each field that would make the text ambiguous or name no installer refuses the text.
TEST(SignedRelease, RefusesFieldsThatCannotBeWrittenUnambiguously)
{
    struct Case
    {
        const char* name;
        void (*change)(SignedRelease&);
    };
    const Case cases[] = {
        {"empty sku", [](SignedRelease& r) { r.sku.clear(); }},
        {"empty platform", [](SignedRelease& r) { r.platform.clear(); }},
        {"empty version", [](SignedRelease& r) { r.version.clear(); }},
        {"line feed in sku", [](SignedRelease& r) { r.sku = "ABC\nplatform=linux"; }},
        {"carriage return in version", [](SignedRelease& r) { r.version = "2.0\r"; }},
        {"NUL in platform", [](SignedRelease& r) { r.platform = std::string("lin\0ux", 6); }},
        {"uppercase sha256", [](SignedRelease& r) { r.sha256[0] = 'E'; }},
        {"short sha256", [](SignedRelease& r) { r.sha256.pop_back(); }},
        {"long sha256", [](SignedRelease& r) { r.sha256 += "0"; }},
        {"sha256 not hexadecimal", [](SignedRelease& r) { r.sha256[5] = 'g'; }},
        {"empty sha256", [](SignedRelease& r) { r.sha256.clear(); }},
    };
    for (const Case& testCase : cases)
    {
        SCOPED_TRACE(testCase.name);
        SignedRelease release = sampleRelease();
        testCase.change(release);
        EXPECT_EQ(release.canonicalText(), std::nullopt);
    }
}
