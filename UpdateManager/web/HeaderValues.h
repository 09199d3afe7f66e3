#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace Veltora::UpdateManager
{

// The response header values the request layer interprets, as pure functions of their text
// (blanks around the value already trimmed).

// The Content-Range of a 206 answer, "bytes first-last/total"; total is -1 for "*".
struct ContentRange
{
    std::int64_t first = 0;
    std::int64_t last = 0;
    std::int64_t total = -1;
};

// A decimal whole number of bytes that fits 64 bits (a Content-Length, a range bound), or
// nothing.
std::optional<std::int64_t> byteCount(const std::string& text);

// "bytes first-last/total" or "bytes first-last/*", with last >= first and, when the total
// is given, last < total; nothing for anything else.
std::optional<ContentRange> parseContentRange(const std::string& value);

// What the Content-Range of a 416 answer ("bytes */total") says: whether it has a "/" at
// all, and the total after its last "/" when that is a decimal number (digits only) that
// fits 64 bits.
struct UnsatisfiableRange
{
    bool hasTotal = false;
    std::optional<std::uint64_t> total;
};
UnsatisfiableRange parseUnsatisfiableRange(const std::string& value);

} // namespace Veltora::UpdateManager
