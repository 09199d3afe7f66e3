#include "UpdateManager/signing/SignatureCheck.h"
#include "UpdateManager/signing/Base64.h"
#include "UpdateManager/signing/SignedRelease.h"
#include "UpdateManager/signing/SigningPrivateKey.h"

#include <openssl/err.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

using namespace Veltora::UpdateManager;

namespace
{
const SignedRelease published{"ABC", "linux", "2.0.1", 123456,
                              "5891b5b522d5df086d0ff0b110fbd9d21bb4fc7163af34d08286a2e846f6be03"};

// One publisher key and the signature it made over the published release, shared by the
// table below.
class SignatureCheckTest : public testing::Test
{
protected:
    SigningPrivateKey publisher = SigningPrivateKey::generate();
    std::string signature = publisher.sign(*published.canonicalText());
};
} // namespace

// What the updater sees (key it was built with, release fields from the answer and the
// download, signature text) against what was published; only the first case passes.
TEST_F(SignatureCheckTest, OnlyTheUnchangedReleaseWithThePublishersKeyIsValid)
{
    struct Case
    {
        const char* name;
        std::function<void(SigningPublicKey&, SignedRelease&, std::string&)> change;
        SignatureCheck expected;
    };
    const Case cases[] = {
        {"unchanged", [](auto&, auto&, auto&) {}, SignatureCheck::Valid},
        {"signature missing", [](auto&, auto&, std::string& s) { s.clear(); },
         SignatureCheck::Missing},
        {"another key",
         [](SigningPublicKey& k, auto&, auto&) { k = SigningPrivateKey::generate().publicKey(); },
         SignatureCheck::Mismatch},
        {"installer bytes changed (sha256)",
         [](auto&, SignedRelease& r, auto&)
         { r.sha256 = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"; },
         SignatureCheck::Mismatch},
        {"size changed", [](auto&, SignedRelease& r, auto&) { r.size += 1; },
         SignatureCheck::Mismatch},
        {"version changed", [](auto&, SignedRelease& r, auto&) { r.version = "2.0.2"; },
         SignatureCheck::Mismatch},
        {"sku changed", [](auto&, SignedRelease& r, auto&) { r.sku = "ABD"; },
         SignatureCheck::Mismatch},
        {"platform changed", [](auto&, SignedRelease& r, auto&) { r.platform = "windows"; },
         SignatureCheck::Mismatch},
        {"one signature character changed",
         [](auto&, auto&, std::string& s) { s[10] = s[10] == 'A' ? 'B' : 'A'; },
         SignatureCheck::Mismatch},
        {"signature text not base64", [](auto&, auto&, std::string& s) { s[3] = '!'; },
         SignatureCheck::NotBase64},
        {"signature with a trailing line break", [](auto&, auto&, std::string& s) { s += "\n"; },
         SignatureCheck::NotBase64},
        {"signature without its padding", [](auto&, auto&, std::string& s) { s.resize(86); },
         SignatureCheck::NotBase64},
        {"signature truncated to 63 bytes",
         [](auto&, auto&, std::string& s) { s = encodeBase64(decodeBase64(s)->substr(0, 63)); },
         SignatureCheck::WrongLength},
        {"signature with a byte appended",
         [](auto&, auto&, std::string& s) { s = encodeBase64(*decodeBase64(s) + "x"); },
         SignatureCheck::WrongLength},
    };
    for (const Case& testCase : cases)
    {
        SCOPED_TRACE(testCase.name);
        SigningPublicKey key = publisher.publicKey();
        SignedRelease seen = published;
        std::string seenSignature = signature;
        testCase.change(key, seen, seenSignature);
        EXPECT_EQ(checkSignature(key, *seen.canonicalText(), seenSignature), testCase.expected);
    }
}

// A refused signature leaves nothing in OpenSSL's error queue that a later TLS call on the
// same thread could take for its own failure.
TEST_F(SignatureCheckTest, ARefusedSignatureLeavesOpenSslsErrorQueueEmpty)
{
    const SigningPublicKey otherKey = SigningPrivateKey::generate().publicKey();
    ERR_clear_error();
    EXPECT_EQ(checkSignature(otherKey, *published.canonicalText(), signature),
              SignatureCheck::Mismatch);
    EXPECT_EQ(ERR_peek_error(), 0u);
}

TEST(SignatureCheckDescription, NamesEveryOutcome)
{
    EXPECT_STREQ(describe(SignatureCheck::Valid), "valid");
    EXPECT_STREQ(describe(SignatureCheck::Missing), "missing");
    EXPECT_STREQ(describe(SignatureCheck::NotBase64), "not base64");
    EXPECT_STREQ(describe(SignatureCheck::WrongLength), "not 64 bytes long");
    EXPECT_STREQ(describe(SignatureCheck::Mismatch),
                 "not made by the updater's key for this release");
}
