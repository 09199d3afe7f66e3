#include "UpdateManager/download/FileVerification.h"
#include "UpdateManager/download/DigestingFileStream.h"
#include "UpdateManager/download/GrowingFileDigest.h"

#include "tests/download/DownloadTestFiles.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <boost/filesystem/fstream.hpp>
#include <boost/filesystem/operations.hpp>

#include <cstdio>

using namespace Veltora::UpdateManager;
using namespace Veltora::Testing;
namespace fs = boost::filesystem;

namespace
{
class FileChecks : public ::testing::TestWithParam<std::size_t>
{
protected:
    Veltora::Testing::TempFolder folder;
};

TEST_P(FileChecks, DigestAndSizeCoverEveryByte)
{
    const fs::path file = folder / "installer.bin";
    writeFile(file, patternedBytes(GetParam()));
    EXPECT_EQ(md5OfFile(file), md5sumOf(file));
    const FileDigests digests = digestsOfFile(file);
    EXPECT_EQ(digests.md5, md5sumOf(file));
    EXPECT_EQ(digests.sha256, sha256sumOf(file));
    EXPECT_EQ(fileSizeOrZero(file), static_cast<std::int64_t>(GetParam()));
}

// Around the 8192-byte block size, so that the last block, full or partial, is hashed.
INSTANTIATE_TEST_SUITE_P(Sizes, FileChecks,
                         ::testing::Values(0u, 1u, 8191u, 8192u, 8193u, 3u * 8192u,
                                           1024u * 1024u + 5u));

TEST(FileVerification, KnownDigestsAreLowercaseHex)
{
    Veltora::Testing::TempFolder folder;
    writeFile(folder / "empty", "");
    writeFile(folder / "abc", "abc");
    EXPECT_EQ(md5OfFile(folder / "empty"), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(md5OfFile(folder / "abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(digestsOfFile(folder / "empty").sha256,
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(digestsOfFile(folder / "abc").sha256,
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(FileVerification, MissingFileHasNoDigestAndNoSize)
{
    Veltora::Testing::TempFolder folder;
    EXPECT_EQ(md5OfFile(folder / "missing"), "");
    EXPECT_EQ(digestsOfFile(folder / "missing").md5, "");
    EXPECT_EQ(digestsOfFile(folder / "missing").sha256, "");
    EXPECT_EQ(fileSizeOrZero(folder / "missing"), 0);
    EXPECT_EQ(fileSizeOrZero(folder / "missing" / "deeper"), 0);
}

TEST(GrowingFileDigest, FollowsTheWriterFromTheFirstByte)
{
    Veltora::Testing::TempFolder folder;
    const fs::path file = folder / "installer.bin";
    const std::string whole = patternedBytes(2 * 1024 * 1024 + 77);
    writeFile(file, whole.substr(0, 1000));
    GrowingFileDigest digest(file, 1000, true);
    {
        fs::ofstream out(file, std::ios::binary | std::ios::app);
        for (std::size_t offset = 1000; offset < whole.size(); offset += 100000)
        {
            const std::size_t count = std::min<std::size_t>(100000, whole.size() - offset);
            out.write(whole.data() + offset, static_cast<std::streamsize>(count));
            out.flush();
            digest.grownTo(static_cast<std::int64_t>(offset + count));
        }
    }
    const FileDigests first = digest.finish();
    EXPECT_EQ(first.md5, md5sumOf(file));
    EXPECT_EQ(first.sha256, sha256sumOf(file));
    EXPECT_EQ(digest.finish().md5, first.md5);
    EXPECT_EQ(digest.finish().sha256, first.sha256);
    EXPECT_TRUE(digest.isComplete());
    EXPECT_EQ(digest.digestedBytes(), static_cast<std::int64_t>(whole.size()));
}

TEST(GrowingFileDigest, BytesThatCannotBeReadBackMakeItIncomplete)
{
    Veltora::Testing::TempFolder folder;
    const fs::path file = folder / "installer.bin";
    writeFile(file, patternedBytes(5000));
    GrowingFileDigest digest(file, 5000, false);
    digest.grownTo(9000);
    digest.finish();
    EXPECT_FALSE(digest.isComplete());
    EXPECT_EQ(digest.digestedBytes(), 5000);
}

TEST(GrowingFileDigest, AbandonedDigestEndsWithoutFinishing)
{
    Veltora::Testing::TempFolder folder;
    const fs::path file = folder / "installer.bin";
    writeFile(file, patternedBytes(1024 * 1024));
    GrowingFileDigest digest(file, 1024 * 1024, true);
}

class DigestingStream : public ::testing::Test
{
protected:
    Veltora::Testing::TempFolder folder;
    fs::path file = folder / "installer.bin";
};

TEST_F(DigestingStream, DigestsExistingBytesThenAppendedOnes)
{
    const std::string whole = patternedBytes(700000);
    writeFile(file, whole.substr(0, 300001));
    DigestingFileStream stream(file, true);
    EXPECT_EQ(static_cast<std::int64_t>(stream.tellp()), 300001);
    for (std::size_t offset = 300001; offset < whole.size(); offset += 8192)
    {
        const std::size_t count = std::min<std::size_t>(8192, whole.size() - offset);
        stream.write(whole.data() + offset, static_cast<std::streamsize>(count));
        // The position counts what is still buffered, as a plain file stream's does.
        EXPECT_EQ(static_cast<std::size_t>(stream.tellp()), offset + count);
    }
    stream.close();

    EXPECT_EQ(stream.digests().md5, md5sumOf(file));
    EXPECT_EQ(stream.digests().sha256, sha256sumOf(file));
    EXPECT_TRUE(stream.isDigestComplete());
    EXPECT_EQ(stream.digestedBytes(), 700000);
    EXPECT_EQ(fileSizeOrZero(file), 700000);
}

TEST_F(DigestingStream, RestartEmptiesFileAndDigest)
{
    writeFile(file, patternedBytes(5000));
    DigestingFileStream stream(file, true);
    stream.write("lost", 4);
    stream.restart();
    EXPECT_EQ(static_cast<std::int64_t>(stream.tellp()), 0);
    stream.write("abc", 3);
    stream.close();
    EXPECT_EQ(fileSizeOrZero(file), 3);
    EXPECT_EQ(stream.digests().md5, "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(stream.digests().sha256,
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST_F(DigestingStream, TakesTheSha256OnlyWhenAskedFor)
{
    writeFile(file, "ab");
    DigestingFileStream stream(file);
    stream.write("c", 1);
    stream.close();
    EXPECT_EQ(stream.digests().md5, "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(stream.digests().sha256, "");
}

TEST_F(DigestingStream, FileThatCannotBeOpenedDropsWhatIsWritten)
{
    DigestingFileStream stream(folder / "missing folder" / "installer.bin");
    EXPECT_TRUE(stream.bad());
    stream.write("abc", 3);
    stream.close();
    stream.digests();
    EXPECT_FALSE(stream.isDigestComplete());
    EXPECT_FALSE(fs::exists(folder / "missing folder"));
}

} // namespace
