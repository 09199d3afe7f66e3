// A text file written into a folder never goes through a link, never lands in a file with
// other names and never blocks on something that is not a file.
#include "platform/Platform.h"

#include "tests/support/FileContent.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <functional>
#include <sys/stat.h>

using Veltora::Platform::writeTextFileInFolder;
using Veltora::Testing::readFile;
using Veltora::Testing::TempFolder;
using Veltora::Testing::writeFile;
namespace fs = boost::filesystem;

namespace
{
class WriteTextFile : public ::testing::Test
{
protected:
    WriteTextFile()
    {
        fs::create_directories(notes);
        fs::create_directories(elsewhere);
        writeFile(outside, "kept");
    }

    bool write(const std::string& folderName, const std::string& name)
    {
        return writeTextFileInFolder((root / folderName).string(), name, "<p>new</p>\n", reason);
    }

    TempFolder root;
    fs::path notes = root / "notes";
    fs::path elsewhere = root / "elsewhere";
    fs::path outside = elsewhere / "important.txt";
    std::string reason;
};

TEST_F(WriteTextFile, CreatesTheFileAndReplacesAnEarlierContent)
{
    writeFile(notes / "A.html", "a much longer earlier content");
    EXPECT_TRUE(write("notes", "A.html")) << reason;
    EXPECT_EQ(readFile(notes / "A.html"), "<p>new</p>\n");
    EXPECT_TRUE(write("notes", "B.html")) << reason;
    EXPECT_EQ(readFile(notes / "B.html"), "<p>new</p>\n");
}

struct RefusedCase
{
    const char* name;
    // Prepares the refused situation inside the fixture's folders.
    std::function<void(const fs::path& notes, const fs::path& outside)> plant;
    const char* folder;
    const char* file;
    const char* reasonPart;
};

void PrintTo(const RefusedCase& testCase, std::ostream* out)
{
    *out << testCase.name;
}

class RefusedWrite : public WriteTextFile, public ::testing::WithParamInterface<RefusedCase>
{
};

TEST_P(RefusedWrite, WritesNothingAndTouchesNothingElsewhere)
{
    GetParam().plant(notes, outside);

    EXPECT_FALSE(write(GetParam().folder, GetParam().file));

    EXPECT_NE(reason.find(GetParam().reasonPart), std::string::npos) << reason;
    EXPECT_EQ(readFile(outside), "kept");
    EXPECT_FALSE(fs::exists(elsewhere / "A.html"));
}

INSTANTIATE_TEST_SUITE_P(
    Platform, RefusedWrite,
    ::testing::Values(RefusedCase{"FileIsALinkToAFileElsewhere",
                                  [](const fs::path& notes, const fs::path& outside)
                                  { fs::create_symlink(outside, notes / "A.html"); },
                                  "notes", "A.html", "symbolic link"},
                      RefusedCase{"FileIsADanglingLink",
                                  [](const fs::path& notes, const fs::path& outside) {
                                      fs::create_symlink(outside.parent_path() / "A.html",
                                                         notes / "A.html");
                                  },
                                  "notes", "A.html", "symbolic link"},
                      RefusedCase{"FolderIsALinkToAFolderElsewhere",
                                  [](const fs::path& notes, const fs::path& outside) {
                                      fs::create_directory_symlink(outside.parent_path(),
                                                                   notes.parent_path() / "linked");
                                  },
                                  "linked", "A.html", "symbolic link"},
                      RefusedCase{"FileIsAHardLinkOfAFileElsewhere",
                                  [](const fs::path& notes, const fs::path& outside)
                                  { fs::create_hard_link(outside, notes / "A.html"); },
                                  "notes", "A.html", "hard links"},
                      RefusedCase{"FileIsAFifoWithoutReader",
                                  [](const fs::path& notes, const fs::path&)
                                  { ASSERT_EQ(mkfifo((notes / "A.html").c_str(), 0600), 0); },
                                  "notes", "A.html", "A.html"},
                      RefusedCase{"FileIsAFolder",
                                  [](const fs::path& notes, const fs::path&)
                                  { fs::create_directory(notes / "A.html"); },
                                  "notes", "A.html", "A.html"},
                      RefusedCase{"FolderIsMissing", [](const fs::path&, const fs::path&) {},
                                  "missing", "A.html", "missing"},
                      RefusedCase{"NameWithASeparator", [](const fs::path&, const fs::path&) {},
                                  "notes", "../elsewhere/A.html", "not a plain file name"},
                      RefusedCase{"NameIsDotDot", [](const fs::path&, const fs::path&) {}, "notes",
                                  "..", "not a plain file name"}),
    [](const ::testing::TestParamInfo<RefusedCase>& testCase) { return testCase.param.name; });
} // namespace
