#include "tools/loopback_server/ContentPart.h"

#include <algorithm>
#include <string>

namespace Veltora::LoopbackServer
{

namespace
{
struct ByteRange
{
    std::uint64_t first = 0;
    std::optional<std::uint64_t> last; // inclusive; none: to the end
};

// Digits only, at most 19 of them, so that the number fits.
std::optional<std::uint64_t> number(const std::string& text)
{
    if (text.empty() || text.size() > 19 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return std::stoull(text);
}

// "bytes=N-" or "bytes=N-M" with N <= M; nothing for any other form.
std::optional<ByteRange> parseRange(const std::string& field)
{
    const std::string prefix = "bytes=";
    if (field.compare(0, prefix.size(), prefix) != 0)
        return std::nullopt;
    const std::string range = field.substr(prefix.size());
    const std::size_t dash = range.find('-');
    if (dash == std::string::npos)
        return std::nullopt;
    const std::optional<std::uint64_t> first = number(range.substr(0, dash));
    if (!first)
        return std::nullopt;
    const std::string lastText = range.substr(dash + 1);
    if (lastText.empty())
        return ByteRange{*first, std::nullopt};
    const std::optional<std::uint64_t> last = number(lastText);
    if (!last || *last < *first)
        return std::nullopt;
    return ByteRange{*first, last};
}
} // namespace

ContentPart ContentPart::of(std::uint64_t size, const std::optional<std::string>& rangeField)
{
    const std::optional<ByteRange> range = rangeField ? parseRange(*rangeField) : std::nullopt;
    if (!range)
        return ContentPart{200, 0, size, std::nullopt};
    if (range->first >= size)
        return ContentPart{416, 0, 0, "bytes */" + std::to_string(size)};
    const std::uint64_t last = range->last ? std::min(*range->last, size - 1) : size - 1;
    return ContentPart{206, range->first, last - range->first + 1,
                       "bytes " + std::to_string(range->first) + "-" + std::to_string(last) + "/" +
                           std::to_string(size)};
}

} // namespace Veltora::LoopbackServer
