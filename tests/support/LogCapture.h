#pragma once

#include "log/CLog.h"
#include "tests/support/InMemoryLogOutput.h"

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace Veltora::Testing
{

// One message as the log engine wrote it.
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

// Collects the log lines of the given categories, at every level, written while it lives.
// It starts a fresh log engine that writes into memory, with those categories enabled, so
// create it before the threads under test start. Reading flushes the lines appended so far
// and leaves the engine running; destroying the capture destroys the engine (the next log
// call then starts a new one on standard output with every category off).
class LogCapture
{
public:
    explicit LogCapture(std::initializer_list<const char*> categories);
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // Everything the engine wrote so far, its own lifecycle lines included. When the test
    // has failed, the text is shown on standard output too, so that it is not lost.
    std::string text();
    // The engine's messages in order; a message that holds line feeds comes back whole.
    std::vector<LogEntry> entries();
    // The messages of one category and level ("debug", "error", ...).
    std::vector<std::string> messages(const std::string& category, const std::string& level);

private:
    std::shared_ptr<InMemoryLogOutput> output;
    bool shown = false;
};

// Splits the engine's output into its messages, leaving out the engine's own lines.
std::vector<LogEntry> parseLogEntries(const std::string& text);

} // namespace Veltora::Testing
