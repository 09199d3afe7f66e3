#pragma once

#include "log/CLog.h"
#include "tests/support/CapturedStdout.h"

#include <initializer_list>
#include <string>

namespace Veltora::Testing
{

// Standard output, and a fresh log engine with the given categories enabled at every
// level, for as long as it lives. text() destroys the engine first so its last lines are
// flushed; the next log call then starts a new engine with every category off.
class CapturedLog
{
public:
    explicit CapturedLog(std::initializer_list<const char*> categories)
    {
        CLog::destroyInstance();
        for (const char* category : categories)
            CLog::getInstance()->setCategoryLevel(category, LogDebug);
    }
    ~CapturedLog() { CLog::destroyInstance(); }
    CapturedLog(const CapturedLog&) = delete;
    CapturedLog& operator=(const CapturedLog&) = delete;

    std::string text()
    {
        CLog::destroyInstance();
        return output.text();
    }

private:
    CapturedStdout output;
};

// How often `needle` occurs in `text`.
inline std::size_t occurrences(const std::string& text, const std::string& needle)
{
    std::size_t count = 0;
    for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        ++count;
    return count;
}

} // namespace Veltora::Testing
