#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace Veltora::UpdateManager
{

// A transfer that receives fewer than `bytes` over `window` counts as cut, like curl's
// --speed-limit and --speed-time: a server that sends nothing, or one byte now and then,
// cannot hold a download open for ever.
//
// The default is fewer than 1024 bytes in 30 seconds. The environment variable
// UPDATER_LOW_SPEED_LIMIT=BYTES/SECONDS (two positive whole numbers, for example
// "4096/5") replaces it; it is read once, on the first use. A malformed value is ignored
// with one line on standard error.
struct LowSpeedLimit
{
    std::int64_t bytes = 1024;
    std::chrono::seconds window{30};

    // The limit in force: the default, or the environment variable's.
    static LowSpeedLimit fromEnvironment();
    // "BYTES/SECONDS" as a limit; nothing when the text is not of that form.
    static std::optional<LowSpeedLimit> parse(const std::string& text);
};

} // namespace Veltora::UpdateManager
