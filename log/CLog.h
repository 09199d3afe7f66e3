#pragma once

#include "log/CLogBuffers.h"
#include "log/CSingleton.h"

#include <cstdint>
#include <map>
#include <memory>
#include <sstream>
#include <string>

// Severity of a log message; the value is what the log call takes.
enum LogLevel : int
{
    LogDebug = 0,
    LogInfo = 1,
    LogNotice = 2,
    LogWarning = 3,
    LogError = 4,
    LogExcept = 5,
    LogAssert = 6
};

// The process-wide log engine. A message is written when its category is in the table
// of enabled categories with a minimum level at or below the message's level. The table
// starts empty; the environment variable UPDATER_LOG (for example
// "update_manager=debug,web=info") fills it once, when the engine is created.
//
// A disabled call costs one short string and one map lookup: nothing is formatted and no
// lock is taken. Lines go through the buffers of CLogBuffers to the engine's output:
// standard output for the engine that getInstance makes, or the output given to
// createInstance (tests read an in-memory one).
class CLog : public CSingleton<CLog>, public CLogBuffers
{
public:
    CLog();
    explicit CLog(std::shared_ptr<LogOutput> output);
    ~CLog() override;

    bool isEnabled(const std::string& category, int level) const;

    // Joins the pieces without separators: texts as they are, integers in decimal, and
    // boost::filesystem paths through their own inserter (quoted, '&' escaping quotes and
    // ampersands; the caller includes the path header).
    template <typename... Pieces> void log(const char* category, int level, const Pieces&... pieces)
    {
        if (!isEnabled(std::string(category), level))
            return;
        std::ostringstream message;
        (message << ... << pieces);
        write(category, level, message);
    }

    // The whole line for a message: marker, milliseconds since creation, thread id,
    // category, level name, message, line feed.
    std::string formatLine(const char* category, int level,
                           const std::ostringstream& message) const;

    // Sets or replaces a category's minimum level. Call before other threads log.
    void setCategoryLevel(const std::string& category, int minimumLevel);

private:
    void write(const char* category, int level, const std::ostringstream& message);
    void readLevelsFromEnvironment();

    std::map<std::string, int> categoryLevels;
    std::int64_t startTicks = 0;
};
