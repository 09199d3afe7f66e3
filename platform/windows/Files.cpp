#include "platform/Platform.h"
#include "platform/windows/AnsiText.h"
#include "platform/windows/FileHandle.h"

#include <windows.h>

#include <string>

namespace Veltora::Platform
{
namespace
{
bool isPlainFileName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string("/\\:\0", 4)) == std::string::npos;
}

std::string systemError(const std::string& what)
{
    return what + " (system error " + std::to_string(GetLastError()) + ")";
}

// A symbolic link or junction is a reparse point; the folder must be a plain folder.
bool isPlainFolder(const std::wstring& folder, std::string& reason)
{
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
    {
        reason = systemError("cannot examine the folder");
        return false;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
    {
        reason = "the folder is a link or not a folder";
        return false;
    }
    return true;
}

// Only a regular disk file with this one name is written: a link (opened as itself, not
// followed) or a hard link would carry the text elsewhere.
bool isWritableFile(HANDLE file, std::string& reason)
{
    BY_HANDLE_FILE_INFORMATION information{};
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &information))
    {
        reason = "the file is not a regular file";
        return false;
    }
    if ((information.dwFileAttributes &
         (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0)
    {
        reason = "the file is a link or not a regular file";
        return false;
    }
    if (information.nNumberOfLinks > 1)
    {
        reason = "the file has other names (hard links)";
        return false;
    }
    return true;
}

// Text as a text-mode stream writes it: every line feed preceded by a carriage return.
std::string withLineEnds(const std::string& text)
{
    std::string converted;
    converted.reserve(text.size());
    for (const char character : text)
    {
        if (character == '\n')
            converted += '\r';
        converted += character;
    }
    return converted;
}

bool replaceContent(HANDLE file, const std::string& text, std::string& reason)
{
    if (!SetEndOfFile(file))
    {
        reason = systemError("cannot empty the file");
        return false;
    }
    if (!Windows::writeAll(file, withLineEnds(text)))
    {
        reason = systemError("cannot write the file");
        return false;
    }
    return true;
}
} // namespace

bool writeTextFileInFolder(const std::string& folder, const std::string& name,
                           const std::string& text, std::string& reason)
{
    std::wstring wideFolder;
    std::wstring wideFile;
    if (!isPlainFileName(name) || !Windows::toWidePath(folder, wideFolder) ||
        !Windows::toWidePath(folder + "\\" + name, wideFile))
    {
        reason = "'" + name + "' in '" + folder + "' is not a usable file name";
        return false;
    }
    if (!isPlainFolder(wideFolder, reason))
        return false;
    // Opened without truncating, and a link as itself, so that nothing changes before the
    // checks have passed.
    const Windows::FileHandle file(
        CreateFileW(wideFile.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.isOpen())
    {
        reason = systemError("cannot open the file");
        return false;
    }
    return isWritableFile(file.get(), reason) && replaceContent(file.get(), text, reason);
}

} // namespace Veltora::Platform
