#include "platform/OsVersionCheck.h"
#include "platform/Platform.h"

#include <sys/utsname.h>

#include <array>
#include <cctype>
#include <string>

namespace Veltora::Platform
{
namespace
{
using Version = std::array<unsigned long, 3>;

// The kernel release ("6.1.0-18-amd64", "5.15") as major.minor.patch: the leading
// dot-separated numbers, missing ones 0; reading stops at the first other character.
Version parseKernelRelease(const char* release)
{
    Version version{0, 0, 0};
    const char* position = release;
    for (std::size_t index = 0; index < version.size(); ++index)
    {
        if (!std::isdigit(static_cast<unsigned char>(*position)))
            break;
        unsigned long number = 0;
        while (std::isdigit(static_cast<unsigned char>(*position)))
        {
            if (number < 1000000)
                number = number * 10 + static_cast<unsigned long>(*position - '0');
            ++position;
        }
        version[index] = number;
        if (*position != '.')
            break;
        ++position;
    }
    return version;
}

} // namespace

bool isRunningUnderWine()
{
    return false;
}

const char* osName()
{
    return "Linux";
}

std::string runningOsVersionText()
{
    utsname names{};
    return uname(&names) == 0 ? names.release : "unknown";
}

bool isRunningOsAtLeast(unsigned major, unsigned minor, unsigned servicePack)
{
    utsname names{};
    const Version running = uname(&names) == 0 ? parseKernelRelease(names.release) : Version{};
    return running >= Version{major, minor, servicePack};
}

} // namespace Veltora::Platform
