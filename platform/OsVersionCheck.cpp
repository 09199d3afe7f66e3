#include "platform/OsVersionCheck.h"
#include "platform/Platform.h"

#include <array>
#include <mutex>
#include <optional>
#include <string>

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
} // namespace

bool isOsVersionAtLeast(unsigned major, unsigned minor, unsigned servicePack)
{
    if (const std::optional<Version> version = versionOverride())
        return *version >= Version{major, minor, servicePack};
    return isRunningOsAtLeast(major, minor, servicePack);
}

std::string osVersionText()
{
    if (const std::optional<Version> version = versionOverride())
        return std::to_string((*version)[0]) + "." + std::to_string((*version)[1]) + "." +
               std::to_string((*version)[2]);
    return runningOsVersionText();
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

} // namespace Veltora::Platform
