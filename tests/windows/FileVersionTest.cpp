#include "platform/Platform.h"
#include "tests/windows/WineTestSupport.h"

#include <gtest/gtest.h>

#include <fstream>

using Veltora::Platform::FileVersion;
using Veltora::Platform::modulePath;
using Veltora::Platform::readFixedFileVersion;
using Veltora::Testing::ansiCodePageHolds;
using Veltora::Testing::ansiPath;
using Veltora::Testing::programFolder;
using Veltora::Testing::WindowsTempFolder;

namespace
{
void expectVersion(const FileVersion& version, std::uint16_t major, std::uint16_t minor,
                   std::uint16_t build, std::uint16_t revision)
{
    EXPECT_EQ(version.major, major);
    EXPECT_EQ(version.minor, minor);
    EXPECT_EQ(version.build, build);
    EXPECT_EQ(version.revision, revision);
}
} // namespace

// The test program carries file version 300.2.7.65535 and product version 9.9.9.9
// (TestVersion.rc). The numbers come out whole: the scan keeps the low 8 bits of the first
// two, which makes the version text 44.2.7.65535.
TEST(FileVersionResource, ReadsTheFileVersionOfTheOwnProgram)
{
    FileVersion version;
    ASSERT_TRUE(readFixedFileVersion(modulePath(), version));
    expectVersion(version, 300, 2, 7, 65535);
}

TEST(FileVersionResource, PathsWithCharactersOutsideAsciiNameTheRightFile)
{
    WindowsTempFolder folder;
    for (const std::wstring name : {L"Versi\u00f3n \u20ac.exe", L"\u00c9t\u00e9 \u0153uvre.exe"})
    {
        if (!ansiCodePageHolds(name))
            continue;
        const std::filesystem::path copy = folder / name;
        std::filesystem::copy_file(std::filesystem::path(modulePath()), copy);
        FileVersion version;
        ASSERT_TRUE(readFixedFileVersion(ansiPath(copy), version)) << ansiPath(copy);
        expectVersion(version, 300, 2, 7, 65535);
    }
}

TEST(FileVersionResource, FilesWithoutAVersionGiveFalseAndKeepTheOutput)
{
    WindowsTempFolder folder;
    std::ofstream(folder / L"notes.txt") << "no version here\n";
    std::ofstream(folder / L"empty.exe").flush();
    std::ofstream(folder / L"short.exe") << "MZ";
    const std::string withoutResource = ansiPath(programFolder() / L"windows_probe.exe");
    ASSERT_TRUE(std::filesystem::exists(withoutResource));

    for (const std::string& file :
         {withoutResource, ansiPath(folder / L"notes.txt"), ansiPath(folder / L"empty.exe"),
          ansiPath(folder / L"short.exe"), ansiPath(folder / L"missing.exe"),
          ansiPath(folder.path()), std::string(), modulePath() + std::string(1, '\0') + "x"})
    {
        SCOPED_TRACE(file);
        FileVersion version{5, 6, 7, 8};
        EXPECT_FALSE(readFixedFileVersion(file, version));
        expectVersion(version, 5, 6, 7, 8);
    }
}
