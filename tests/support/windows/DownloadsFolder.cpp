// The shell reads the Downloads folder of the current user from the "User Shell Folders"
// key, under the folder's identifier. The tests run in a Wine prefix of their own, so the
// setting is not put back; but test processes running at the same time share it, so each
// takes a turn (the one tests/windows/KnownFoldersTest takes too) from its first change
// until it ends.
#include "tests/support/DownloadsFolder.h"

#include <windows.h>

#include <stdexcept>
#include <string>

namespace Veltora::Testing
{
namespace
{
constexpr DWORD turnWaitMilliseconds = 240000;

// The turn ends with the process; another process then gets it as abandoned, which is as
// good.
void takeTheTurnForThisProcess()
{
    static const bool taken = []
    {
        const HANDLE turn = CreateMutexW(nullptr, FALSE, L"Local\\VeltoraDownloadsTests");
        const DWORD waited =
            turn == nullptr ? WAIT_FAILED : WaitForSingleObject(turn, turnWaitMilliseconds);
        if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED)
            throw std::runtime_error("no turn to change the Downloads folder setting");
        return true;
    }();
    (void)taken;
}
} // namespace

void useDownloadsFolderForProcess(const boost::filesystem::path& folder)
{
    takeTheTurnForThisProcess();
    const std::wstring value = folder.wstring();
    const LSTATUS status = RegSetKeyValueW(
        HKEY_CURRENT_USER,
        L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
        L"{374DE290-123F-4565-9164-39C4925E467B}", REG_EXPAND_SZ, value.c_str(),
        static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    if (status != ERROR_SUCCESS)
        throw std::runtime_error("cannot make " + folder.string() +
                                 " the Downloads folder: error " + std::to_string(status));
}

bool hideDownloadsFolder(ScopedEnvironment&)
{
    return false;
}

} // namespace Veltora::Testing
