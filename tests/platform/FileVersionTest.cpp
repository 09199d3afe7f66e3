#include "platform/Platform.h"
#include "tests/support/PeFileBuilder.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <sys/stat.h>

using Veltora::Platform::FileVersion;
using Veltora::Platform::readFixedFileVersion;
using Veltora::Testing::PeFileBuilder;
using Veltora::Testing::TempFolder;

namespace
{
using Bytes = std::vector<std::uint8_t>;
using Layout = PeFileBuilder::Layout;

class PeReader : public testing::Test
{
protected:
    // Writes the image and reads it back; false when the reader found no version.
    bool readImage(const Bytes& image, FileVersion& version)
    {
        PeFileBuilder::writeFile(file, image);
        return readFixedFileVersion(file.string(), version);
    }

    TempFolder folder;
    boost::filesystem::path file = folder / "Product.exe";
};

void expectVersion(const FileVersion& version, const PeFileBuilder::Version& expected)
{
    EXPECT_EQ(version.major, expected.major);
    EXPECT_EQ(version.minor, expected.minor);
    EXPECT_EQ(version.build, expected.build);
    EXPECT_EQ(version.revision, expected.revision);
}
} // namespace

TEST_F(PeReader, ReadsTheFileVersionNotTheProductVersion)
{
    for (const bool pe32Plus : {false, true})
        for (const PeFileBuilder::Version expected :
             {PeFileBuilder::Version{1, 2, 3, 4}, PeFileBuilder::Version{300, 2, 7, 65535},
              PeFileBuilder::Version{65535, 65535, 0, 0}})
        {
            SCOPED_TRACE(pe32Plus ? "PE32+" : "PE32");
            const Bytes image = PeFileBuilder()
                                    .wide(pe32Plus)
                                    .fileVersion(expected)
                                    .productVersion({9, 9, 9, 9})
                                    .build();
            FileVersion version;
            ASSERT_TRUE(readImage(image, version));
            expectVersion(version, expected);
        }
}

TEST_F(PeReader, FilesWithoutVersionResourceGiveFalseAndKeepTheOutput)
{
    const FileVersion untouched{5, 6, 7, 8};
    FileVersion version = untouched;
    EXPECT_FALSE(readImage(PeFileBuilder().withoutVersionResource().build(), version));

    EXPECT_FALSE(readImage(Bytes{'t', 'e', 'x', 't', '\n'}, version));
    EXPECT_FALSE(readImage(Bytes{}, version));
    EXPECT_FALSE(readImage(Bytes{'M', 'Z'}, version));
    EXPECT_FALSE(readFixedFileVersion((folder / "missing.exe").string(), version));
    EXPECT_FALSE(readFixedFileVersion(folder.path().string(), version));
    expectVersion(version, {5, 6, 7, 8});
}

TEST_F(PeReader, NamedPipeIsRefusedWithoutWaitingForAWriter)
{
    const boost::filesystem::path pipe = folder / "pipe.exe";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    FileVersion version;
    EXPECT_FALSE(readFixedFileVersion(pipe.string(), version));
}

// Every prefix of a valid image: the version is read exactly when the whole version block
// is present, and no prefix makes the reader touch bytes it does not have.
TEST_F(PeReader, TruncatedImagesNeverReadPastTheEnd)
{
    PeFileBuilder builder;
    const Bytes image = builder.fileVersion({1, 2, 3, 4}).build();
    const Layout& layout = builder.layout();
    const std::size_t blockEnd = layout.fixedFileInfo + 52;
    for (std::size_t length = 0; length <= image.size(); ++length)
    {
        FileVersion version;
        const bool read = readImage(Bytes(image.begin(), image.begin() + length), version);
        ASSERT_EQ(read, length >= blockEnd) << "length " << length;
    }
}

namespace
{
struct Corruption
{
    const char* what;
    std::function<void(Bytes&, const Layout&)> apply;
    bool stillReadable;
};

void u16(Bytes& image, std::size_t at, std::uint16_t value)
{
    PeFileBuilder::putU16(image, at, value);
}
void u32(Bytes& image, std::size_t at, std::uint32_t value)
{
    PeFileBuilder::putU32(image, at, value);
}

const std::vector<Corruption>& corruptions()
{
    static const std::vector<Corruption> table = {
        {"PE header offset far past the end",
         [](Bytes& b, const Layout& l) { u32(b, l.peHeaderOffsetField, 0xFFFFFFF0u); }, false},
        {"PE header straddling the end",
         [](Bytes& b, const Layout& l)
         { u32(b, l.peHeaderOffsetField, static_cast<std::uint32_t>(b.size() - 2)); },
         false},
        {"bad PE signature", [](Bytes& b, const Layout& l) { b[l.peHeader + 1] = 'X'; }, false},
        {"65535 sections, table past the end",
         [](Bytes& b, const Layout& l) { u16(b, l.sectionCountField, 0xFFFF); }, false},
        {"no sections", [](Bytes& b, const Layout& l) { u16(b, l.sectionCountField, 0); }, false},
        {"unknown optional header magic",
         [](Bytes& b, const Layout& l) { u16(b, l.optionalHeader, 0x999); }, false},
        {"too few data directories", [](Bytes& b, const Layout& l) { u32(b, l.rvaCountField, 2); },
         false},
        {"optional header size past the end",
         [](Bytes& b, const Layout& l) { u16(b, l.peHeader + 20, 0xFFFF); }, false},
        {"no resource directory",
         [](Bytes& b, const Layout& l) { u32(b, l.resourceDirectoryField, 0); }, false},
        {"resource address at the top of the address space",
         [](Bytes& b, const Layout& l) { u32(b, l.resourceDirectoryField, 0xFFFFFFFFu); }, false},
        {"section raw data far past the end",
         [](Bytes& b, const Layout& l) { u32(b, l.sectionHeader + 20, 0xFFFFFF00u); }, false},
        {"section raw size overflowing",
         [](Bytes& b, const Layout& l)
         {
             u32(b, l.sectionHeader + 8, 0);
             u32(b, l.sectionHeader + 16, 0xFFFFFFFFu);
         },
         true},
        {"section address wrapping around",
         [](Bytes& b, const Layout& l) { u32(b, l.sectionHeader + 12, 0xFFFFF000u); }, false},
        {"virtual size cutting off the version block",
         [](Bytes& b, const Layout& l) {
             u32(b, l.sectionHeader + 8,
                 static_cast<std::uint32_t>(l.fixedFileInfo - l.resourceSection));
         },
         false},
        {"root directory claims 131070 entries",
         [](Bytes& b, const Layout& l)
         {
             u16(b, l.typeDirectory + 12, 0xFFFF);
             u16(b, l.typeDirectory + 14, 0xFFFF);
         },
         false},
        {"RT_VERSION points back to the root",
         [](Bytes& b, const Layout& l) { u32(b, l.versionTypeEntry + 4, 0x80000000u); }, false},
        {"name 1 points back to the root",
         [](Bytes& b, const Layout& l) { u32(b, l.nameDirectory + 16 + 4, 0x80000000u); }, false},
        {"language entry loops to its own directory",
         [](Bytes& b, const Layout& l)
         {
             u32(b, l.languageEntry + 4,
                 0x80000000u | static_cast<std::uint32_t>(l.languageDirectory - l.resourceSection));
         },
         false},
        {"RT_VERSION is data, not a directory",
         [](Bytes& b, const Layout& l) {
             u32(b, l.versionTypeEntry + 4,
                 static_cast<std::uint32_t>(l.dataEntry - l.resourceSection));
         },
         false},
        {"subdirectory offset past the end",
         [](Bytes& b, const Layout& l) { u32(b, l.versionTypeEntry + 4, 0xFFFFFFFFu); }, false},
        {"data entry offset past the end",
         [](Bytes& b, const Layout& l) { u32(b, l.languageEntry + 4, 0x7FFFFFF0u); }, false},
        {"version block address wrapping around",
         [](Bytes& b, const Layout& l) { u32(b, l.dataEntry, 0xFFFFFFF0u); }, false},
        {"version block size overflowing",
         [](Bytes& b, const Layout& l) { u32(b, l.dataEntry + 4, 0xFFFFFFFFu); }, false},
        {"version block length shorter than its header",
         [](Bytes& b, const Layout& l) { u16(b, l.versionInfo, 4); }, false},
        {"version block length longer than the data",
         [](Bytes& b, const Layout& l) { u16(b, l.versionInfo, 0xFFFF); }, true},
        {"key without terminator inside the block",
         [](Bytes& b, const Layout& l) { u16(b, l.versionInfo, 6 + 30); }, false},
        {"no value", [](Bytes& b, const Layout& l) { u16(b, l.versionInfo + 2, 0); }, false},
        {"wrong fixed-information signature",
         [](Bytes& b, const Layout& l) { u32(b, l.fixedFileInfo, 0xFEEF04BCu); }, false},
    };
    return table;
}
} // namespace

TEST_F(PeReader, MalformedImagesAreRejectedWithoutReadingOutOfBounds)
{
    for (const bool pe32Plus : {false, true})
        for (const Corruption& corruption : corruptions())
        {
            SCOPED_TRACE(corruption.what);
            PeFileBuilder builder;
            Bytes image = builder.wide(pe32Plus).fileVersion({4, 3, 2, 1}).build();
            corruption.apply(image, builder.layout());
            FileVersion version;
            ASSERT_EQ(readImage(image, version), corruption.stillReadable);
            if (corruption.stillReadable)
                expectVersion(version, {4, 3, 2, 1});
        }
}

// Random damage to the headers and the resource tree, with a fixed seed so a failure
// repeats; the sanitizer builds turn any stray read into a failure.
TEST_F(PeReader, RandomlyDamagedImagesNeverCrash)
{
    PeFileBuilder builder;
    const Bytes original = builder.wide(true).build();
    const std::size_t damagedEnd = builder.layout().fixedFileInfo + 52;
    std::mt19937 random(20240611u);
    std::uniform_int_distribution<std::size_t> position(0, damagedEnd - 1);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> count(1, 6);
    for (int round = 0; round < 1000; ++round)
    {
        Bytes image = original;
        for (int change = count(random); change > 0; --change)
            image[position(random)] = static_cast<std::uint8_t>(byte(random));
        FileVersion version;
        readImage(image, version);
    }
}
