#include "UpdateManager/core/ProductDescription.h"

#include "platform/Platform.h"

#include <array>
#include <stdexcept>
#include <vector>

namespace Veltora::UpdateManager
{

namespace
{
// Major, minor and service-pack major, each truncated to 16 bits.
using PlatformVersion = std::array<std::uint16_t, 3>;

std::vector<std::string> splitAtDots(const std::string& text)
{
    std::vector<std::string> components;
    std::string::size_type begin = 0;
    for (;;)
    {
        const auto dot = text.find('.', begin);
        components.push_back(text.substr(begin, dot - begin));
        if (dot == std::string::npos)
            return components;
        begin = dot + 1;
    }
}

// The standard string-to-unsigned-long conversion with a 32-bit result, as on the
// platform the version limits were written for: leading blanks and a sign accepted,
// digits required, values beyond 32 bits out of range.
std::uint32_t toUnsigned32(const std::string& component)
{
    unsigned long long value = 0;
    try
    {
        value = std::stoull(component);
    }
    catch (const std::invalid_argument&)
    {
        throw std::invalid_argument("invalid stoul argument");
    }
    catch (const std::out_of_range&)
    {
        throw std::out_of_range("stoul argument out of range");
    }
    const auto signPosition = component.find_first_not_of(" \t\n\v\f\r");
    const bool negative = component[signPosition] == '-';
    const unsigned long long magnitude = negative ? 0ULL - value : value;
    if (magnitude > 0xFFFFFFFFULL)
        throw std::out_of_range("stoul argument out of range");
    const auto result = static_cast<std::uint32_t>(magnitude);
    return negative ? 0U - result : result;
}

// Up to three components; the missing ones take `missing`, the ones beyond are ignored.
PlatformVersion parseVersion(const std::string& text, std::uint16_t missing)
{
    PlatformVersion version{missing, missing, missing};
    const std::vector<std::string> components = splitAtDots(text);
    for (std::size_t index = 0; index < version.size() && index < components.size(); ++index)
        version[index] = static_cast<std::uint16_t>(toUnsigned32(components[index]));
    return version;
}

bool runningAtLeast(const PlatformVersion& version)
{
    return Platform::isOsVersionAtLeast(version[0], version[1], version[2]);
}

// A given service pack is the first one excluded, so "6.1.1" still admits service pack 1.
PlatformVersion parseMaximum(const std::string& text)
{
    PlatformVersion version = parseVersion(text, 0xFFFF);
    if (splitAtDots(text).size() >= 3)
        version[2] = static_cast<std::uint16_t>(version[2] + 1);
    return version;
}
} // namespace

bool ProductDescription::isPlatformSupported() const
{
    bool supported = true;
    if (!platformMinVersion.empty())
    {
        try
        {
            supported = runningAtLeast(parseVersion(platformMinVersion, 0));
        }
        catch (const std::out_of_range&)
        {
            supported = false;
        }
    }
    if (!platformMaxVersion.empty())
    {
        try
        {
            const PlatformVersion maximum = parseMaximum(platformMaxVersion);
            if (supported)
                supported = !runningAtLeast(maximum);
        }
        catch (const std::out_of_range&)
        {
            supported = false;
        }
    }
    return supported;
}

} // namespace Veltora::UpdateManager
