#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>

namespace Veltora::Testing
{
namespace
{
std::string trimmed(const std::string& text)
{
    const std::size_t first = text.find_first_not_of(' ');
    const std::size_t last = text.find_last_not_of(' ');
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

// The engine's lifecycle lines may come between any two messages; they never continue one.
bool isLifecycleLine(const std::string& line)
{
    return line.rfind("####", 0) == 0 || line.rfind("LOG - ", 0) == 0 ||
           line.rfind("LOG FLUSH DONE", 0) == 0;
}

// "[LOG] elapsed | thread | category | level | message"; false when a field is missing.
bool parseLine(const std::string& line, LogEntry& entry)
{
    std::vector<std::string> fields;
    std::size_t begin = 0;
    while (fields.size() < 4)
    {
        const std::size_t bar = line.find(" | ", begin);
        if (bar == std::string::npos)
            return false;
        fields.push_back(line.substr(begin, bar - begin));
        begin = bar + 3;
    }
    entry = LogEntry{trimmed(fields[2]), trimmed(fields[3]), line.substr(begin)};
    return true;
}
} // namespace

LogCapture::LogCapture(std::initializer_list<const char*> categories)
    : output(std::make_shared<InMemoryLogOutput>())
{
    CLog::destroyInstance();
    CLog* engine = CLog::createInstance(output);
    for (const char* category : categories)
        engine->setCategoryLevel(category, LogDebug);
}

LogCapture::~LogCapture()
{
    CLog::destroyInstance();
}

std::string LogCapture::text()
{
    // The stop's final flush writes out every line appended so far; the next log call
    // starts the writer again.
    CLog::getInstance()->stopThread();
    const std::string captured = output->text();
    if (::testing::Test::HasFailure() && !shown)
    {
        shown = true;
        std::cout << captured << std::flush;
    }
    return captured;
}

std::vector<LogEntry> LogCapture::entries()
{
    return parseLogEntries(text());
}

std::vector<std::string> LogCapture::messages(const std::string& category, const std::string& level)
{
    std::vector<std::string> found;
    for (const LogEntry& entry : entries())
        if (entry.category == category && entry.level == level)
            found.push_back(entry.message);
    return found;
}

std::vector<LogEntry> parseLogEntries(const std::string& text)
{
    std::vector<LogEntry> entries;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line))
    {
        LogEntry entry;
        if (line.rfind("[LOG] ", 0) == 0)
        {
            if (parseLine(line, entry))
                entries.push_back(entry);
        }
        else if (!entries.empty() && !isLifecycleLine(line))
        {
            entries.back().message += "\n" + line;
        }
    }
    return entries;
}

} // namespace Veltora::Testing
