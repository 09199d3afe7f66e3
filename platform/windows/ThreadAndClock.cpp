#include "platform/Platform.h"

#include <windows.h>

#include <cstdio>

namespace Veltora::Platform
{
namespace
{
// FILETIME counts 100-ns ticks from 1601-01-01; this many of them lie before 1970-01-01.
constexpr std::int64_t ticksFrom1601To1970 = 116444736000000000LL;
constexpr DWORD modulePathBufferSize = 260;
} // namespace

std::uint64_t currentThreadId()
{
    return GetCurrentThreadId();
}

std::int64_t systemTimeTicks()
{
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const std::int64_t since1601 = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
    return since1601 - ticksFrom1601To1970;
}

// The module that holds this code; when it cannot be found the null handle makes
// GetModuleFileNameA name the process's executable instead.
std::string modulePath()
{
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(&modulePath), &module))
    {
        std::fprintf(stderr, "GetModuleHandle returned %d\n", static_cast<int>(GetLastError()));
        module = nullptr;
    }
    char path[modulePathBufferSize] = {};
    GetModuleFileNameA(module, path, modulePathBufferSize);
    // Older systems leave a path cut at the buffer's end unterminated.
    path[modulePathBufferSize - 1] = '\0';
    return std::string(path);
}

} // namespace Veltora::Platform
