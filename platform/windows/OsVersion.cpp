#include "platform/OsVersionCheck.h"
#include "platform/Platform.h"

#include <windows.h>

namespace Veltora::Platform
{
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

const char* platformWord()
{
    return "windows";
}

} // namespace Veltora::Platform
