#include "platform/windows/FileHandle.h"

#include <algorithm>

namespace Veltora::Platform::Windows
{

FileHandle::~FileHandle()
{
    close();
}

bool FileHandle::close()
{
    if (!isOpen())
        return true;
    const HANDLE closing = handle;
    handle = INVALID_HANDLE_VALUE;
    return CloseHandle(closing) != 0;
}

bool writeAll(HANDLE file, const std::string& content)
{
    std::size_t written = 0;
    while (written < content.size())
    {
        const auto wanted =
            static_cast<DWORD>(std::min<std::size_t>(content.size() - written, 1u << 30));
        DWORD done = 0;
        if (!WriteFile(file, content.data() + written, wanted, &done, nullptr) || done == 0)
            return false;
        written += done;
    }
    return true;
}

} // namespace Veltora::Platform::Windows
