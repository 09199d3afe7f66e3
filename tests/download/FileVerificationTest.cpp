#include "UpdateManager/download/FileVerification.h"
#include "UpdateManager/download/DigestingFileStream.h"
#include "UpdateManager/download/GrowingFileMd5.h"

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
}

TEST(FileVerification, MissingFileHasNoDigestAndNoSize)
{
    Veltora::Testing::TempFolder folder;
    EXPECT_EQ(md5OfFile(folder / "missing"), "");
    EXPECT_EQ(fileSizeOrZero(folder / "missing"), 0);
    EXPECT_EQ(fileSizeOrZero(folder / "missing" / "deeper"), 0);
}

TEST(GrowingFileMd5, FollowsTheWriterFromTheFirstByte)
{
    Veltora::Testing::TempFolder folder;
    const fs::path file = folder / "installer.bin";
    const std::string whole = patternedBytes(2 * 1024 * 1024 + 77);
    writeFile(file, whole.substr(0, 1000));
    GrowingFileMd5 digest(file, 1000);
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
    EXPECT_EQ(digest.finish(), md5sumOf(file));
    EXPECT_EQ(digest.finish(), md5sumOf(file));
    EXPECT_TRUE(digest.isComplete());
    EXPECT_EQ(digest.digestedBytes(), static_cast<std::int64_t>(whole.size()));
}

TEST(GrowingFileMd5, BytesThatCannotBeReadBackMakeItIncomplete)
{
    Veltora::Testing::TempFolder folder;
    const fs::path file = folder / "installer.bin";
    writeFile(file, patternedBytes(5000));
    GrowingFileMd5 digest(file, 5000);
    digest.grownTo(9000);
    digest.finish();
    EXPECT_FALSE(digest.isComplete());
    EXPECT_EQ(digest.digestedBytes(), 5000);
}

TEST(GrowingFileMd5, AbandonedDigestEndsWithoutFinishing)
{
    Veltora::Testing::TempFolder folder;
    const fs::path file = folder / "installer.bin";
    writeFile(file, patternedBytes(1024 * 1024));
    GrowingFileMd5 digest(file, 1024 * 1024);
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
    DigestingFileStream stream(file);
    EXPECT_EQ(static_cast<std::int64_t>(stream.tellp()), 300001);
    for (std::size_t offset = 300001; offset < whole.size(); offset += 8192)
    {
        const std::size_t count = std::min<std::size_t>(8192, whole.size() - offset);
        stream.write(whole.data() + offset, static_cast<std::streamsize>(count));
        // The position counts what is still buffered, as a plain file stream's does.
        EXPECT_EQ(static_cast<std::size_t>(stream.tellp()), offset + count);
    }
    stream.close();

    EXPECT_EQ(stream.md5(), md5sumOf(file));
    EXPECT_TRUE(stream.isDigestComplete());
    EXPECT_EQ(stream.digestedBytes(), 700000);
    EXPECT_EQ(fileSizeOrZero(file), 700000);
}

TEST_F(DigestingStream, RestartEmptiesFileAndDigest)
{
    writeFile(file, patternedBytes(5000));
    DigestingFileStream stream(file);
    stream.write("lost", 4);
    stream.restart();
    EXPECT_EQ(static_cast<std::int64_t>(stream.tellp()), 0);
    stream.write("abc", 3);
    stream.close();
    EXPECT_EQ(fileSizeOrZero(file), 3);
    EXPECT_EQ(stream.md5(), "900150983cd24fb0d6963f7d28e17f72");
}

TEST_F(DigestingStream, FileThatCannotBeOpenedDropsWhatIsWritten)
{
    DigestingFileStream stream(folder / "missing folder" / "installer.bin");
    EXPECT_TRUE(stream.bad());
    stream.write("abc", 3);
    stream.close();
    stream.md5();
    EXPECT_FALSE(stream.isDigestComplete());
    EXPECT_FALSE(fs::exists(folder / "missing folder"));
}

} // namespace
