#pragma once

#include <cstdint>
#include <string>

namespace Veltora
{

// A scoped stopwatch: its destructor logs "<name> : <duration> <unit>" at notice level in
// category "timing". Durations come from the wall clock in 100-ns ticks and are truncated
// to whole milliseconds or microseconds.
class CTiming
{
public:
    // Source of the current time in 100-ns ticks; replaceable so tests control durations.
    using Clock = std::int64_t (*)();

    CTiming(std::string name, bool milliseconds, Clock clock = defaultClock());
    virtual ~CTiming();
    CTiming(const CTiming&) = delete;
    CTiming& operator=(const CTiming&) = delete;

    // Time since construction in the chosen unit; also records the reading as `end`.
    virtual std::int64_t elapsed();
    // "ms" or "micros".
    virtual std::string unitName() const;

private:
    static Clock defaultClock();
    std::int64_t ticksToUnit(std::int64_t ticks) const;

    std::string name;
    bool milliseconds;
    std::int64_t start;
    std::int64_t end = 0;
    Clock clock;
};

} // namespace Veltora
