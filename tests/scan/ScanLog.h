#pragma once

#include "log/CLog.h"
#include "tests/support/CapturedStdout.h"

#include <string>
#include <vector>

namespace Veltora::Testing
{

struct LogEntry
{
    std::string category;
    std::string level;
    std::string message;

    friend bool operator==(const LogEntry& left, const LogEntry& right)
    {
        return left.category == right.category && left.level == right.level &&
               left.message == right.message;
    }
};

// Captures what the scanner logs: a fresh log engine with the scanner's categories
// enabled at every level, its output on standard output collected until entries().
class ScanLog
{
public:
    ScanLog();
    ~ScanLog();
    ScanLog(const ScanLog&) = delete;
    ScanLog& operator=(const ScanLog&) = delete;

    // Flushes the engine (by destroying it) and returns its messages in order; a message
    // that holds line feeds comes back whole.
    std::vector<LogEntry> entries();
    // The messages of one category and level.
    std::vector<std::string> messages(const std::string& category, const std::string& level);

private:
    CapturedStdout output;
    std::vector<LogEntry> collected;
    bool finished = false;
};

} // namespace Veltora::Testing
