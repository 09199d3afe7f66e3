#include "UpdateManager/web/HeaderValues.h"

#include <boost/algorithm/string/predicate.hpp>

#include <stdexcept>

namespace Veltora::UpdateManager
{

std::optional<std::int64_t> byteCount(const std::string& text)
{
    if (text.empty() || text.size() > 18 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return std::stoll(text);
}

std::optional<ContentRange> parseContentRange(const std::string& value)
{
    const std::string prefix = "bytes ";
    const auto dash = value.find('-');
    const auto slash = value.find('/');
    if (!boost::algorithm::istarts_with(value, prefix) || dash == std::string::npos ||
        slash == std::string::npos || slash < dash)
        return std::nullopt;
    const auto first = byteCount(value.substr(prefix.size(), dash - prefix.size()));
    const auto last = byteCount(value.substr(dash + 1, slash - dash - 1));
    const std::string totalText = value.substr(slash + 1);
    const auto total = totalText == "*" ? std::optional<std::int64_t>(-1) : byteCount(totalText);
    if (!first || !last || !total || *last < *first || (*total >= 0 && *last >= *total))
        return std::nullopt;
    return ContentRange{*first, *last, *total};
}

UnsatisfiableRange parseUnsatisfiableRange(const std::string& value)
{
    UnsatisfiableRange range;
    const auto slash = value.rfind('/');
    if (slash == std::string::npos)
        return range;
    range.hasTotal = true;
    try
    {
        range.total = std::stoull(value.substr(slash + 1));
    }
    catch (const std::logic_error&)
    {
    }
    return range;
}

} // namespace Veltora::UpdateManager
