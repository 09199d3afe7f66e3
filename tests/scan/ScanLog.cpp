#include "tests/scan/ScanLog.h"

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

// "[LOG] elapsed | thread | category | level | message"
LogEntry parseLine(const std::string& line)
{
    std::vector<std::string> fields;
    std::size_t start = 0;
    while (fields.size() < 4)
    {
        const std::size_t bar = line.find(" | ", start);
        if (bar == std::string::npos)
            return LogEntry{};
        fields.push_back(line.substr(start, bar - start));
        start = bar + 3;
    }
    return LogEntry{trimmed(fields[2]), trimmed(fields[3]), line.substr(start)};
}

bool isLifecycleLine(const std::string& line)
{
    return line.rfind("####", 0) == 0 || line.rfind("LOG - ", 0) == 0 ||
           line.rfind("LOG FLUSH DONE", 0) == 0;
}
} // namespace

ScanLog::ScanLog()
{
    CLog::destroyInstance();
    for (const char* category : {"update_manager", "external", "timing"})
        CLog::getInstance()->setCategoryLevel(category, LogDebug);
}

ScanLog::~ScanLog()
{
    entries();
}

std::vector<LogEntry> ScanLog::entries()
{
    if (finished)
        return collected;
    finished = true;
    CLog::destroyInstance();
    std::istringstream lines(output.text());
    std::string line;
    while (std::getline(lines, line))
    {
        if (line.rfind("[LOG] ", 0) == 0)
            collected.push_back(parseLine(line));
        else if (!collected.empty() && !isLifecycleLine(line))
            collected.back().message += "\n" + line;
    }
    return collected;
}

std::vector<std::string> ScanLog::messages(const std::string& category, const std::string& level)
{
    std::vector<std::string> found;
    for (const LogEntry& entry : entries())
        if (entry.category == category && entry.level == level)
            found.push_back(entry.message);
    return found;
}

} // namespace Veltora::Testing
