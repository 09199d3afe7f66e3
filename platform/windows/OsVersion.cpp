#include "platform/OsVersionCheck.h"
#include "platform/Platform.h"

#include <windows.h>

#include <string>

namespace Veltora::Platform
{
const char* osName()
{
    return "Windows";
}

// RtlGetVersion tells the real version; GetVersionEx answers what the manifest claims.
std::string runningOsVersionText()
{
    using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const auto rtlGetVersion =
        ntdll == nullptr ? nullptr
                         : reinterpret_cast<RtlGetVersionFunction>(
                               reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    if (rtlGetVersion == nullptr || rtlGetVersion(&info) != 0)
        return "unknown";
    return std::to_string(info.dwMajorVersion) + "." + std::to_string(info.dwMinorVersion) + "." +
           std::to_string(info.dwBuildNumber);
}

// Windows compares major, then minor, then service-pack major, each "greater or equal".
bool isRunningOsAtLeast(unsigned major, unsigned minor, unsigned servicePack)
{
    OSVERSIONINFOEXW wanted{};
    wanted.dwOSVersionInfoSize = sizeof(wanted);
    wanted.dwMajorVersion = major;
    wanted.dwMinorVersion = minor;
    wanted.wServicePackMajor = static_cast<WORD>(servicePack);
    DWORDLONG conditions = 0;
    conditions = VerSetConditionMask(conditions, VER_MAJORVERSION, VER_GREATER_EQUAL);
    conditions = VerSetConditionMask(conditions, VER_MINORVERSION, VER_GREATER_EQUAL);
    conditions = VerSetConditionMask(conditions, VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);
    return VerifyVersionInfoW(&wanted, VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR,
                              conditions) != FALSE;
}

// Wine's ntdll exports its version; Windows' does not.
bool isRunningUnderWine()
{
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

const char* platformWord()
{
    return "windows";
}

} // namespace Veltora::Platform
