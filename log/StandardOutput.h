#pragma once

#include "log/LogOutput.h"

// The process's standard output, the log engine's output unless it is given another.
// Making one clears any error state of std::cout, so a stream that failed before the engine
// existed does not swallow its lines.
class StandardOutput : public LogOutput
{
public:
    StandardOutput();

    void write(const char* text, std::size_t length) override;
};
