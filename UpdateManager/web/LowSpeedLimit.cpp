#include "UpdateManager/web/LowSpeedLimit.h"

#include <cstdlib>
#include <iostream>

namespace Veltora::UpdateManager
{
namespace
{
constexpr const char* variable = "UPDATER_LOW_SPEED_LIMIT";
// A day: longer windows would let a stalled download look alive.
constexpr std::int64_t maxWindowSeconds = 24 * 60 * 60;

// A whole number of at least 1 made of decimal digits only, or nothing.
std::optional<std::int64_t> positiveNumber(const std::string& text)
{
    if (text.empty() || text.size() > 18 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const std::int64_t number = std::stoll(text);
    return number > 0 ? std::optional<std::int64_t>(number) : std::nullopt;
}

LowSpeedLimit readEnvironment()
{
    const char* setting = std::getenv(variable);
    if (setting == nullptr)
        return {};
    if (const auto limit = LowSpeedLimit::parse(setting))
        return *limit;
    std::cerr << variable << ": ignoring malformed value \"" << setting
              << "\" (expected BYTES/SECONDS)" << std::endl;
    return {};
}
} // namespace

std::optional<LowSpeedLimit> LowSpeedLimit::parse(const std::string& text)
{
    const auto slash = text.find('/');
    if (slash == std::string::npos)
        return std::nullopt;
    const auto bytes = positiveNumber(text.substr(0, slash));
    const auto seconds = positiveNumber(text.substr(slash + 1));
    if (!bytes || !seconds || *seconds > maxWindowSeconds)
        return std::nullopt;
    return LowSpeedLimit{*bytes, std::chrono::seconds(*seconds)};
}

LowSpeedLimit LowSpeedLimit::fromEnvironment()
{
    static const LowSpeedLimit limit = readEnvironment();
    return limit;
}

} // namespace Veltora::UpdateManager
