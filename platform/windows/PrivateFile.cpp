#include "platform/Platform.h"
#include "platform/windows/AnsiText.h"
#include "platform/windows/FileHandle.h"

#include <windows.h>

#include <sddl.h>

#include <string>

namespace Veltora::Platform
{
namespace
{
std::string systemMessage(DWORD code)
{
    char* buffer = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
    std::string text = length > 0 ? std::string(buffer, length) : "error " + std::to_string(code);
    LocalFree(buffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '.'))
        text.pop_back();
    return text;
}

// A protected access list that grants everything to the file's owner and nothing to
// anyone else, and inherits nothing from the folder.
class OwnerOnlySecurity
{
public:
    OwnerOnlySecurity()
    {
        attributes.nLength = sizeof(attributes);
        attributes.bInheritHandle = FALSE;
        ConvertStringSecurityDescriptorToSecurityDescriptorW(
            L"D:P(A;;FA;;;OW)", SDDL_REVISION_1, &attributes.lpSecurityDescriptor, nullptr);
    }
    ~OwnerOnlySecurity() { LocalFree(attributes.lpSecurityDescriptor); }
    OwnerOnlySecurity(const OwnerOnlySecurity&) = delete;
    OwnerOnlySecurity& operator=(const OwnerOnlySecurity&) = delete;

    bool isValid() const { return attributes.lpSecurityDescriptor != nullptr; }
    SECURITY_ATTRIBUTES* get() { return &attributes; }

private:
    SECURITY_ATTRIBUTES attributes{};
};
} // namespace

bool createPrivateFile(const std::string& path, const std::string& content, std::string& error)
{
    OwnerOnlySecurity security;
    if (!security.isValid())
    {
        error = systemMessage(GetLastError());
        return false;
    }
    std::wstring name;
    if (!Windows::toWidePath(path, name))
    {
        error = "the path is empty or holds a NUL character";
        return false;
    }
    // CREATE_NEW refuses an existing name; the access list applies from creation on.
    Windows::FileHandle file(CreateFileW(name.c_str(), GENERIC_WRITE, 0, security.get(), CREATE_NEW,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.isOpen())
    {
        error = systemMessage(GetLastError());
        return false;
    }
    const bool written =
        Windows::writeAll(file.get(), content) && FlushFileBuffers(file.get()) && file.close();
    if (!written)
    {
        error = systemMessage(GetLastError());
        file.close();
        DeleteFileW(name.c_str());
    }
    return written;
}

} // namespace Veltora::Platform
