#include "platform/Platform.h"
#include "tests/support/FileContent.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <boost/filesystem/operations.hpp>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

using Veltora::Platform::createPrivateFile;
using Veltora::Testing::readFile;
using Veltora::Testing::TempFolder;
using Veltora::Testing::writeFile;
namespace fs = boost::filesystem;

namespace
{
mode_t permissionsOf(const fs::path& file)
{
    struct stat status
    {
    };
    EXPECT_EQ(::lstat(file.c_str(), &status), 0);
    return status.st_mode & 07777;
}

// Sets the process's umask for one test and puts the old one back.
class ScopedUmask
{
public:
    explicit ScopedUmask(mode_t mask) : previous(::umask(mask)) {}
    ~ScopedUmask() { ::umask(previous); }
    ScopedUmask(const ScopedUmask&) = delete;
    ScopedUmask& operator=(const ScopedUmask&) = delete;

private:
    mode_t previous;
};

// Limits the size of files this process writes, for one test.
class ScopedFileSizeLimit
{
public:
    explicit ScopedFileSizeLimit(rlim_t bytes) : previousHandler(std::signal(SIGXFSZ, SIG_IGN))
    {
        ::getrlimit(RLIMIT_FSIZE, &previous);
        rlimit limited = previous;
        limited.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~ScopedFileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &previous);
        std::signal(SIGXFSZ, previousHandler);
    }
    ScopedFileSizeLimit(const ScopedFileSizeLimit&) = delete;
    ScopedFileSizeLimit& operator=(const ScopedFileSizeLimit&) = delete;

private:
    rlimit previous{};
    void (*previousHandler)(int);
};
} // namespace

TEST(PrivateFile, IsCreatedForItsOwnerOnlyWhateverTheUmask)
{
    for (const mode_t mask : {mode_t{0}, mode_t{022}, mode_t{0277}})
    {
        SCOPED_TRACE(mask);
        TempFolder folder;
        const ScopedUmask umask(mask);
        std::string error;
        ASSERT_TRUE(createPrivateFile((folder / "key.pem").string(), "secret\n", error)) << error;
        EXPECT_EQ(permissionsOf(folder / "key.pem"), mode_t{0600});
        EXPECT_EQ(readFile(folder / "key.pem"), "secret\n");
    }
}

TEST(PrivateFile, HoldsBinaryContentExactly)
{
    TempFolder folder;
    std::string content(70000, '\0');
    for (std::size_t index = 0; index < content.size(); ++index)
        content[index] = static_cast<char>(index * 31);
    std::string error;
    ASSERT_TRUE(createPrivateFile((folder / "blob").string(), content, error)) << error;
    EXPECT_EQ(readFile(folder / "blob"), content);
}

TEST(PrivateFile, RefusesAnythingAlreadyAtThePath)
{
    TempFolder folder;
    writeFile(folder / "existing", "keep me");
    fs::create_symlink(folder / "existing", folder / "link-to-existing");
    fs::create_symlink(folder / "nowhere", folder / "dangling-link");
    fs::create_directory(folder / "directory");

    for (const char* name : {"existing", "link-to-existing", "dangling-link", "directory"})
    {
        SCOPED_TRACE(name);
        std::string error;
        EXPECT_FALSE(createPrivateFile((folder / name).string(), "new", error));
        EXPECT_NE(error, "");
    }
    EXPECT_EQ(readFile(folder / "existing"), "keep me");
    EXPECT_FALSE(fs::exists(folder / "nowhere"));
}

TEST(PrivateFile, FailsWithTheReasonInAMissingFolder)
{
    TempFolder folder;
    std::string error;
    EXPECT_FALSE(createPrivateFile((folder / "missing" / "key.pem").string(), "secret", error));
    EXPECT_EQ(error, "No such file or directory");
}

TEST(PrivateFile, LeavesNothingBehindWhenTheContentCannotBeWritten)
{
    // A file size limit makes the write fail after the file was created, as a full disk
    // would; the signal that the limit raises is ignored so the write just fails.
    TempFolder folder;
    const ScopedFileSizeLimit limit(16);
    std::string error;
    EXPECT_FALSE(createPrivateFile((folder / "key.pem").string(), std::string(4096, 'k'), error));
    EXPECT_EQ(error, "File too large");
    EXPECT_FALSE(fs::exists(folder / "key.pem"));
}

// A path with a NUL inside would name the shorter path before it; nothing is created.
TEST(PrivateFile, RefusesAPathWithANulInside)
{
    TempFolder folder;
    const std::string path = (folder / "key.pem").string() + std::string("\0.txt", 5);
    std::string error;
    EXPECT_FALSE(createPrivateFile(path, "secret", error));
    EXPECT_NE(error, "");
    EXPECT_TRUE(fs::is_empty(folder.path()));
}
