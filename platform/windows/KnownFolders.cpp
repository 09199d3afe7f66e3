#include "platform/Platform.h"
#include "platform/windows/AnsiText.h"

#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>

#include <memory>

namespace Veltora::Platform
{
namespace
{
// The converted path's buffer, terminator included.
constexpr int ansiPathBufferSize = 260;

const KNOWNFOLDERID& folderId(KnownFolder folder)
{
    switch (folder)
    {
    case KnownFolder::ProgramFilesX86:
        return FOLDERID_ProgramFilesX86;
    case KnownFolder::ProgramFilesX64:
        return FOLDERID_ProgramFilesX64;
    case KnownFolder::ProgramData:
        return FOLDERID_ProgramData;
    case KnownFolder::Profile:
        return FOLDERID_Profile;
    case KnownFolder::Downloads:
        break;
    }
    return FOLDERID_Downloads;
}

struct ShellMemoryRelease
{
    void operator()(wchar_t* memory) const { CoTaskMemFree(memory); }
};
using ShellPath = std::unique_ptr<wchar_t, ShellMemoryRelease>;

// The shell allocates the path even when the call fails; it is released in every case.
// The folder need not exist: a Downloads folder the user removed is made again where the
// user's setting puts it, as on the other systems, and the version finders check each file.
ShellPath shellFolderPath(KnownFolder folder)
{
    PWSTR path = nullptr;
    const HRESULT result =
        SHGetKnownFolderPath(folderId(folder), KF_FLAG_DONT_VERIFY, nullptr, &path);
    ShellPath owned(path);
    if (FAILED(result))
        owned.reset();
    return owned;
}

// The path in the active ANSI code page. A path longer than the buffer, or with a character
// the code page cannot hold, does not convert.
bool toAnsiPath(const wchar_t* path, std::string& text)
{
    char buffer[ansiPathBufferSize];
    bool exact = false;
    if (Windows::toAnsi(path, -1, buffer, ansiPathBufferSize, exact) == 0 || !exact)
        return false;
    text.assign(buffer);
    return true;
}
} // namespace

bool knownFolderPath(KnownFolder folder, std::string& path, int* conversionError)
{
    const ShellPath found = shellFolderPath(folder);
    if (!found)
        return false;
    std::string converted;
    if (!toAnsiPath(found.get(), converted))
    {
        if (conversionError != nullptr)
            *conversionError = static_cast<int>(GetLastError());
        return false;
    }
    path = converted;
    return true;
}

} // namespace Veltora::Platform
