#include "log/CLog.h"

#include "platform/Platform.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <iomanip>
#include <iostream>
#include <utility>

namespace
{
constexpr std::array<const char*, 7> levelNames = {"debug", "info",   "notice", "warning",
                                                   "error", "except", "assert"};

// A level as a name ("info") or a number ("1"); -1 when it is neither.
int parseLevel(const std::string& text)
{
    for (std::size_t index = 0; index < levelNames.size(); ++index)
        if (text == levelNames[index])
            return static_cast<int>(index);
    if (text.size() == 1 && text[0] >= '0' && text[0] <= '6')
        return text[0] - '0';
    return -1;
}
} // namespace

CLog::CLog() : CLog(nullptr) {}

CLog::CLog(std::shared_ptr<LogOutput> chosenOutput) : CLogBuffers(std::move(chosenOutput))
{
    writeDirect("#### Log engine initialization.\n");
    startTicks = Veltora::Platform::systemTimeTicks();
    readLevelsFromEnvironment();
    startThread();
}

CLog::~CLog()
{
    stopThread();
    writeDirect("#### Log engine destruction.\n");
}

bool CLog::isEnabled(const std::string& category, int level) const
{
    const auto found = categoryLevels.find(category);
    return found != categoryLevels.end() && level >= found->second;
}

void CLog::setCategoryLevel(const std::string& category, int minimumLevel)
{
    categoryLevels[category] = minimumLevel;
}

std::string CLog::formatLine(const char* category, int level,
                             const std::ostringstream& message) const
{
    const std::int64_t elapsedMs = (Veltora::Platform::systemTimeTicks() - startTicks) / 10000;
    const std::uint64_t threadId = Veltora::Platform::currentThreadId();
    std::ostringstream line;
    line << std::left << "[LOG] " << std::setw(6)
         << static_cast<std::int32_t>(static_cast<std::uint32_t>(elapsedMs)) << " | "
         << std::setw(5) << threadId << " | " << std::setw(15) << category << " | " << std::setw(6)
         << levelNames[static_cast<std::size_t>(level)] << " | " << message.str() << '\n';
    return line.str();
}

void CLog::write(const char* category, int level, const std::ostringstream& message)
{
    const std::string line = formatLine(category, level, message);
    append(line.data(), std::min<std::size_t>(line.size(), maxLineLength));
}

// UPDATER_LOG holds comma-separated "category=level" entries; the level is a name or a
// digit. A malformed entry is reported once on standard error and skipped.
void CLog::readLevelsFromEnvironment()
{
    const char* setting = std::getenv("UPDATER_LOG");
    if (setting == nullptr)
        return;
    std::istringstream entries(setting);
    std::string entry;
    while (std::getline(entries, entry, ','))
    {
        if (entry.empty())
            continue;
        const auto equals = entry.find('=');
        const int level = equals == std::string::npos ? -1 : parseLevel(entry.substr(equals + 1));
        if (equals == 0 || level < 0)
        {
            std::cerr << "UPDATER_LOG: ignoring malformed entry \"" << entry << "\"" << std::endl;
            continue;
        }
        categoryLevels[entry.substr(0, equals)] = level;
    }
}
