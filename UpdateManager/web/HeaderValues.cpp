#include "UpdateManager/web/HeaderValues.h"

#include <boost/algorithm/string/predicate.hpp>

#include <stdexcept>

namespace Veltora::UpdateManager
{

namespace
{
bool isDecimal(const std::string& text)
{
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}
} // namespace

std::optional<std::int64_t> byteCount(const std::string& text)
{
    if (text.size() > 18 || !isDecimal(text))
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
    // Digits only: a conversion that stops at the first non-digit would read "1:48576" as 1,
    // and one that accepts a sign would read "-1" as the largest size.
    const std::string total = value.substr(slash + 1);
    if (!isDecimal(total))
        return range;
    try
    {
        range.total = std::stoull(total);
    }
    catch (const std::out_of_range&)
    {
    }
    return range;
}

} // namespace Veltora::UpdateManager
