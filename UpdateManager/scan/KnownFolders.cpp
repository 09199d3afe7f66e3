#include "UpdateManager/scan/KnownFolders.h"

#include <array>
#include <cstdio>
#include <utility>

namespace Veltora::UpdateManager
{
namespace
{
using Platform::KnownFolder;

const std::array<std::pair<const char*, KnownFolder>, 4> placeholders = {{
    {"<pf86>", KnownFolder::ProgramFilesX86},
    {"<pf64>", KnownFolder::ProgramFilesX64},
    {"<data>", KnownFolder::ProgramData},
    {"<user>", KnownFolder::Profile},
}};
} // namespace

bool getKnownFolderPath(KnownFolder folder, std::string& path)
{
    std::string folderPath;
    int conversionError = 0;
    if (!Platform::knownFolderPath(folder, folderPath, &conversionError))
    {
        if (conversionError != 0)
        {
            std::printf("GetLastError after WideCharToMultiByte returned %d\n", conversionError);
            std::fflush(stdout);
        }
        return false;
    }
    path = folderPath;
    return true;
}

std::string expandPathPlaceholder(const std::string& text)
{
    if (text.empty() || text.front() != '<')
        return text;
    const std::size_t close = text.find('>');
    if (close == std::string::npos)
        return text;
    const std::string placeholder = text.substr(0, close + 1);
    for (const auto& [name, folder] : placeholders)
    {
        std::string folderPath;
        if (placeholder == name && getKnownFolderPath(folder, folderPath))
            return folderPath + text.substr(close + 1);
    }
    return text;
}

} // namespace Veltora::UpdateManager
