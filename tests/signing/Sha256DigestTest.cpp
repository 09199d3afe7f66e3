#include "UpdateManager/signing/Sha256Digest.h"

#include <gtest/gtest.h>

#include <string>

using Veltora::UpdateManager::Sha256Digest;

namespace
{
std::string sha256InPieces(const std::string& bytes, std::size_t pieceSize)
{
    Sha256Digest digest;
    for (std::size_t at = 0; at < bytes.size(); at += pieceSize)
        digest.update(bytes.data() + at, std::min(pieceSize, bytes.size() - at));
    return digest.hexDigest();
}
} // namespace

// FIPS 180-2 vectors; the digest must not depend on how the bytes are cut into pieces.
TEST(Sha256Digest, MatchesTheStandardVectorsWhateverThePieces)
{
    struct Case
    {
        std::string bytes;
        const char* expected;
    };
    const Case cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"}};
    for (const Case& testCase : cases)
        for (const std::size_t pieceSize : {std::size_t{1}, std::size_t{63}, std::size_t{8192}})
        {
            if (pieceSize == 1 && testCase.bytes.size() > 1000)
                continue;
            SCOPED_TRACE(testCase.expected);
            EXPECT_EQ(sha256InPieces(testCase.bytes, pieceSize), testCase.expected);
        }
}

TEST(Sha256Digest, GivesTheSameTextWhenAskedAgain)
{
    Sha256Digest digest;
    digest.update("abc", 3);
    const std::string first = digest.hexDigest();
    EXPECT_EQ(digest.hexDigest(), first);
}
