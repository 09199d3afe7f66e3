#include "platform/Platform.h"

#include <windows.h>

#include <array>
#include <mutex>
#include <optional>

namespace Veltora::Platform
{
namespace
{
using Version = std::array<unsigned, 3>;

std::mutex overrideMutex;
std::optional<Version> overriddenVersion;

std::optional<Version> versionOverride()
{
    std::lock_guard<std::mutex> lock(overrideMutex);
    return overriddenVersion;
}

// Windows compares major, then minor, then service-pack major, each "greater or equal".
bool isRunningWindowsAtLeast(unsigned major, unsigned minor, unsigned servicePack)
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
} // namespace

bool isOsVersionAtLeast(unsigned major, unsigned minor, unsigned servicePack)
{
    if (const std::optional<Version> version = versionOverride())
        return *version >= Version{major, minor, servicePack};
    return isRunningWindowsAtLeast(major, minor, servicePack);
}

void overrideOsVersionForTesting(unsigned major, unsigned minor, unsigned servicePack)
{
    std::lock_guard<std::mutex> lock(overrideMutex);
    overriddenVersion = Version{major, minor, servicePack};
}

void clearOsVersionOverrideForTesting()
{
    std::lock_guard<std::mutex> lock(overrideMutex);
    overriddenVersion.reset();
}

const char* platformWord()
{
    return "windows";
}

} // namespace Veltora::Platform
