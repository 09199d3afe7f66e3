#include "platform/Platform.h"

#include <windows.h>

#include <sddl.h>

#include <algorithm>
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

std::wstring widePath(const std::string& path)
{
    const int length =
        MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), wide.data(), length);
    return wide;
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

bool writeAll(HANDLE file, const std::string& content)
{
    std::size_t written = 0;
    while (written < content.size())
    {
        DWORD chunk = 0;
        const auto wanted =
            static_cast<DWORD>(std::min<std::size_t>(content.size() - written, 1u << 30));
        if (!WriteFile(file, content.data() + written, wanted, &chunk, nullptr) || chunk == 0)
            return false;
        written += chunk;
    }
    return true;
}
} // namespace

bool createPrivateFile(const std::string& path, const std::string& content, std::string& error)
{
    OwnerOnlySecurity security;
    if (!security.isValid())
    {
        error = systemMessage(GetLastError());
        return false;
    }
    const std::wstring name = widePath(path);
    // CREATE_NEW refuses an existing name; the access list applies from creation on.
    HANDLE file = CreateFileW(name.c_str(), GENERIC_WRITE, 0, security.get(), CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
    {
        error = systemMessage(GetLastError());
        return false;
    }
    bool written = writeAll(file, content) && FlushFileBuffers(file);
    if (!written)
        error = systemMessage(GetLastError());
    if (!CloseHandle(file) && written)
    {
        error = systemMessage(GetLastError());
        written = false;
    }
    if (!written)
        DeleteFileW(name.c_str());
    return written;
}

} // namespace Veltora::Platform
