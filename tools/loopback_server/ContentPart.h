#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace Veltora::LoopbackServer
{

// The part of a file that a loopback file server sends for a request's "Range" field:
// - "bytes=N-" or "bytes=N-M" with N before the end: 206, bytes N to M (or to the end),
//   "Content-Range: bytes N-M/size";
// - such a range with N at or past the end: 416, no bytes, "Content-Range: bytes */size";
// - no field, or any other form (several ranges, suffix ranges, garbage): 200 with the whole
//   file, which a client must accept.
struct ContentPart
{
    int status = 200;
    std::uint64_t first = 0;
    std::uint64_t length = 0;
    std::optional<std::string> contentRange;

    static ContentPart of(std::uint64_t size, const std::optional<std::string>& rangeField);
};

} // namespace Veltora::LoopbackServer
