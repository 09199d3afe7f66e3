#pragma once

#include "log/CLog.h"
#include "tests/support/CapturedStdout.h"

#include <gtest/gtest.h>

#include <iostream>
#include <string>

namespace Veltora::Testing
{

// Collects the log lines of the given categories, at every level, written while it lives.
// It starts a fresh log engine with those categories enabled, so create it before the
// threads under test start; call text() only after they have ended, since it destroys
// the engine to flush its last lines.
class LogCapture
{
public:
    explicit LogCapture(std::initializer_list<const char*> categories)
    {
        CLog::destroyInstance();
        for (const char* category : categories)
            CLog::getInstance()->setCategoryLevel(category, LogDebug);
    }

    // Failure messages of the test that arrived meanwhile are shown again, so that they
    // are not lost in the capture.
    std::string text()
    {
        CLog::destroyInstance();
        const std::string captured = output.text();
        if (::testing::Test::HasFailure())
            std::cout << captured << std::flush;
        return captured;
    }

private:
    CapturedStdout output;
};

} // namespace Veltora::Testing
