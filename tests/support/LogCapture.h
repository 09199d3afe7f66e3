#pragma once

#include "log/CLog.h"
#include "tests/support/CapturedStdout.h"

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

    std::string text()
    {
        CLog::destroyInstance();
        return output.text();
    }

private:
    CapturedStdout output;
};

} // namespace Veltora::Testing
