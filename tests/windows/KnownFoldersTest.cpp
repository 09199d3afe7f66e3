#include "platform/Platform.h"
#include "tests/windows/WineTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <vector>

using Veltora::Platform::KnownFolder;
using Veltora::Platform::knownFolderPath;
using Veltora::Platform::narrowText;
using Veltora::Testing::ansiCodePageHolds;
using Veltora::Testing::WindowsTempFolder;

namespace
{
std::optional<std::string> lookUp(KnownFolder folder, int* conversionError = nullptr)
{
    std::string path = "untouched";
    if (!knownFolderPath(folder, path, conversionError))
    {
        EXPECT_EQ(path, "untouched");
        return std::nullopt;
    }
    return path;
}

std::string environmentValue(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// The Downloads tests change and read one registry value of the user; test processes that
// run at the same time take turns through a named mutex.
class DownloadsFolderTurn
{
public:
    DownloadsFolderTurn() : mutex(CreateMutexW(nullptr, FALSE, L"Local\\VeltoraDownloadsTests"))
    {
        const DWORD waited = WaitForSingleObject(mutex, 120000);
        owned = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
    }
    ~DownloadsFolderTurn()
    {
        if (owned)
            ReleaseMutex(mutex);
        CloseHandle(mutex);
    }
    DownloadsFolderTurn(const DownloadsFolderTurn&) = delete;
    DownloadsFolderTurn& operator=(const DownloadsFolderTurn&) = delete;

    bool isOwned() const { return owned; }

private:
    HANDLE mutex;
    bool owned = false;
};

class Downloads : public testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(turn.isOwned()); }

    DownloadsFolderTurn turn;
};

// Points the user's Downloads folder somewhere else through the registry value the shell
// reads, and puts the previous value back afterwards.
class DownloadsRedirection
{
public:
    DownloadsRedirection()
    {
        RegCreateKeyExW(HKEY_CURRENT_USER, userShellFolders, 0, nullptr, 0,
                        KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key, nullptr);
        DWORD size = sizeof(saved);
        hadValue = RegQueryValueExW(key, downloadsValue, nullptr, &savedType,
                                    reinterpret_cast<BYTE*>(saved), &size) == ERROR_SUCCESS;
        savedSize = size;
    }
    ~DownloadsRedirection()
    {
        if (hadValue)
            RegSetValueExW(key, downloadsValue, 0, savedType, reinterpret_cast<BYTE*>(saved),
                           savedSize);
        else
            RegDeleteValueW(key, downloadsValue);
        RegCloseKey(key);
    }
    DownloadsRedirection(const DownloadsRedirection&) = delete;
    DownloadsRedirection& operator=(const DownloadsRedirection&) = delete;

    bool redirectTo(const std::wstring& folder)
    {
        return RegSetValueExW(
                   key, downloadsValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                   static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    }

private:
    static constexpr const wchar_t* userShellFolders =
        L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
    static constexpr const wchar_t* downloadsValue = L"{374DE290-123F-4565-9164-39C4925E467B}";
    HKEY key = nullptr;
    bool hadValue = false;
    DWORD savedType = REG_NONE;
    DWORD savedSize = 0;
    wchar_t saved[1024] = {};
};
} // namespace

TEST(KnownFolders, ResolveToTheFoldersTheSystemAnnounces)
{
    EXPECT_EQ(lookUp(KnownFolder::Profile), environmentValue("USERPROFILE"));
    EXPECT_EQ(lookUp(KnownFolder::ProgramData), environmentValue("ProgramData"));
    EXPECT_EQ(lookUp(KnownFolder::ProgramFilesX86), environmentValue("ProgramFiles(x86)"));
    EXPECT_EQ(lookUp(KnownFolder::ProgramFilesX64), environmentValue("ProgramW6432"));
}

TEST_F(Downloads, ResolvesToAnExistingFolder)
{
    const std::optional<std::string> downloads = lookUp(KnownFolder::Downloads);
    ASSERT_TRUE(downloads.has_value());
    ASSERT_GT(downloads->size(), 3u);
    EXPECT_NE(downloads->back(), '\\');
    EXPECT_EQ(GetFileAttributesA(downloads->c_str()) & FILE_ATTRIBUTE_DIRECTORY,
              static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
}

TEST_F(Downloads, FollowsARedirectionInTheAnsiCodePage)
{
    WindowsTempFolder folder;
    DownloadsRedirection redirection;
    for (const std::wstring name : {L"Plain Downloads", L"T\u00e9l\u00e9chargements"})
    {
        if (!ansiCodePageHolds(name))
            continue;
        const std::filesystem::path target = folder / name;
        std::filesystem::create_directories(target);
        ASSERT_TRUE(redirection.redirectTo(target.wstring()));
        int conversionError = -12345;
        const std::wstring wide = target.wstring();
        EXPECT_EQ(lookUp(KnownFolder::Downloads, &conversionError),
                  narrowText(std::u16string(wide.begin(), wide.end())));
        EXPECT_EQ(conversionError, -12345);
    }
}

// A folder whose name the ANSI code page cannot hold is not given with a look-alike or a
// replacement character: the lookup fails and hands over the system's error code.
TEST_F(Downloads, InAFolderTheAnsiCodePageCannotHoldIsRefused)
{
    WindowsTempFolder folder;
    DownloadsRedirection redirection;
    for (const std::wstring name : {L"Smile \u263a", L"D\u0101ta", L"\u4e0b\u8f7d"})
    {
        if (ansiCodePageHolds(name))
            continue;
        SCOPED_TRACE(std::string(name.begin(), name.end()));
        const std::filesystem::path target = folder / name;
        std::filesystem::create_directories(target);
        ASSERT_TRUE(redirection.redirectTo(target.wstring()));
        int conversionError = -12345;
        EXPECT_EQ(lookUp(KnownFolder::Downloads, &conversionError), std::nullopt);
        EXPECT_NE(conversionError, -12345);
        EXPECT_EQ(lookUp(KnownFolder::Downloads), std::nullopt);
    }
}
