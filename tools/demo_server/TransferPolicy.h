#pragma once

#include <atomic>
#include <cstdint>

namespace Veltora::Demo
{

// How the demo server sends installer files: optionally slowed down (to watch the
// progress bar) and optionally cut short, to show how the updater resumes a dropped
// download.
struct TransferPolicy
{
    // Bytes per second; 0 for as fast as possible.
    std::uint64_t bytesPerSecond = 0;
    // This many of the next transfers end after half of their body (rounded down to the
    // updater's 8192-byte chunks) with the connection closed.
    std::atomic<int> transfersToCut{0};
};

} // namespace Veltora::Demo
