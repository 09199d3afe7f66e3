#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace Veltora::Testing
{

// Polls until the condition holds or the deadline passes; returns the condition's value.
inline bool waitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds deadline = std::chrono::seconds(5))
{
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!condition())
    {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

} // namespace Veltora::Testing
