// A text file written into a folder: line feeds become carriage return and line feed, an
// earlier content is replaced, and nothing is written through a link or to a file with
// other names.
#include "platform/Platform.h"
#include "tests/windows/WineTestSupport.h"

#include <gtest/gtest.h>

using Veltora::Platform::writeTextFileInFolder;
using Veltora::Testing::ansiPath;
using Veltora::Testing::contentOf;
using Veltora::Testing::WindowsTempFolder;
using Veltora::Testing::writeFile;

namespace
{
class WriteTextFile : public testing::Test
{
protected:
    WriteTextFile()
    {
        std::filesystem::create_directories(notes);
        std::filesystem::create_directories(elsewhere);
        writeFile(outside, "kept");
    }

    bool write(const std::filesystem::path& folderPath, const std::string& name)
    {
        return writeTextFileInFolder(ansiPath(folderPath), name, "<p>new</p>\n<p>2</p>", reason);
    }

    WindowsTempFolder root;
    std::filesystem::path notes = root / L"notes";
    std::filesystem::path elsewhere = root / L"elsewhere";
    std::filesystem::path outside = elsewhere / L"important.txt";
    std::string reason;
};
} // namespace

TEST_F(WriteTextFile, WritesWindowsLineEndsAndReplacesAnEarlierContent)
{
    writeFile(notes / L"A.html", "a much longer earlier content");
    EXPECT_TRUE(write(notes, "A.html")) << reason;
    EXPECT_EQ(contentOf(notes / L"A.html"), "<p>new</p>\r\n<p>2</p>");
}

TEST_F(WriteTextFile, RefusesANameThatIsNotAPlainFileName)
{
    for (const std::string name : {"..\\elsewhere\\A.html", "../A.html", "C:A.html", "..", ""})
    {
        SCOPED_TRACE(name);
        EXPECT_FALSE(write(notes, name));
        EXPECT_NE(reason.find("not a usable file name"), std::string::npos) << reason;
    }
    EXPECT_FALSE(std::filesystem::exists(elsewhere / L"A.html"));
    EXPECT_FALSE(std::filesystem::exists(root / L"A.html"));
}

TEST_F(WriteTextFile, RefusesAFileWithOtherNames)
{
    std::filesystem::create_hard_link(outside, notes / L"A.html");
    EXPECT_FALSE(write(notes, "A.html"));
    EXPECT_NE(reason.find("hard links"), std::string::npos) << reason;
    EXPECT_EQ(contentOf(outside), "kept");
}

TEST_F(WriteTextFile, RefusesAMissingFolder)
{
    EXPECT_FALSE(write(root / L"missing", "A.html"));
    EXPECT_FALSE(std::filesystem::exists(root / L"missing"));
}

// Made with the system call itself: the C++ library of the cross compiler makes no links.
// True only when a real link (a reparse point) is there afterwards.
bool makeLink(const std::filesystem::path& target, const std::filesystem::path& link, bool folder)
{
    const DWORD flags =
        (folder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0) | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE;
    CreateSymbolicLinkW(link.c_str(), target.c_str(), flags);
    const DWORD attributes = GetFileAttributesW(link.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

TEST_F(WriteTextFile, RefusesAFileOrAFolderThatIsALink)
{
    if (!makeLink(outside, notes / L"A.html", false) ||
        !makeLink(elsewhere, root / L"linked", true))
        GTEST_SKIP() << "this system makes no symbolic links (error " << GetLastError() << ")";

    EXPECT_FALSE(write(notes, "A.html"));
    EXPECT_NE(reason.find("link"), std::string::npos) << reason;
    EXPECT_FALSE(write(root / L"linked", "B.html"));
    EXPECT_NE(reason.find("link"), std::string::npos) << reason;
    EXPECT_EQ(contentOf(outside), "kept");
    EXPECT_FALSE(std::filesystem::exists(elsewhere / L"B.html"));
}
