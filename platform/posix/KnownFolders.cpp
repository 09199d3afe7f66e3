#include "platform/Platform.h"
#include "platform/posix/Environment.h"

#include <fstream>
#include <optional>

// Known folders follow the XDG and HOME conventions: the user's folders come from $HOME
// and the XDG user-dirs settings, the machine-wide ones are fixed system folders.
namespace Veltora::Platform
{
namespace
{
const char* const downloadDirKey = "XDG_DOWNLOAD_DIR";

// Known folder paths carry no trailing separator; the root folder stays "/".
std::string withoutTrailingSeparators(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::optional<std::string> homeFolder()
{
    const std::optional<std::string> home = environmentValue("HOME");
    if (!home)
        return std::nullopt;
    return withoutTrailingSeparators(*home);
}

// "$HOME" or "${HOME}" at the start, followed by a separator or nothing, becomes the home
// folder. Anything else must be an absolute path; a relative one is not a folder.
std::optional<std::string> expandHome(const std::string& text)
{
    for (const std::string variable : {"$HOME", "${HOME}"})
    {
        if (text.compare(0, variable.size(), variable) != 0)
            continue;
        const std::string rest = text.substr(variable.size());
        if (!rest.empty() && rest.front() != '/')
            continue;
        const std::optional<std::string> home = homeFolder();
        if (!home)
            return std::nullopt;
        return *home + rest;
    }
    if (text.empty() || text.front() != '/')
        return std::nullopt;
    return text;
}

// The value of a user-dirs line such as XDG_DOWNLOAD_DIR="$HOME/Downloads": double quotes
// removed, backslash escapes taken literally. Unterminated quotes make the line unusable.
std::optional<std::string> shellWordValue(const std::string& text)
{
    if (text.empty() || text.front() != '"')
    {
        const std::size_t end = text.find_first_of(" \t#");
        return text.substr(0, end);
    }
    std::string value;
    for (std::size_t index = 1; index < text.size(); ++index)
    {
        const char character = text[index];
        if (character == '"')
            return value;
        if (character == '\\' && index + 1 < text.size())
            ++index;
        value += text[index];
    }
    return std::nullopt;
}

std::optional<std::string> userDirsFile()
{
    if (const std::optional<std::string> configHome = environmentValue("XDG_CONFIG_HOME"))
        return *configHome + "/user-dirs.dirs";
    if (const std::optional<std::string> home = homeFolder())
        return *home + "/.config/user-dirs.dirs";
    return std::nullopt;
}

// The last usable XDG_DOWNLOAD_DIR line wins, as when the file is sourced by a shell.
std::optional<std::string> downloadsFromUserDirs()
{
    const std::optional<std::string> file = userDirsFile();
    if (!file)
        return std::nullopt;
    std::ifstream settings(*file);
    std::optional<std::string> folder;
    std::string line;
    while (std::getline(settings, line))
    {
        const std::size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos ||
            line.compare(start, std::char_traits<char>::length(downloadDirKey), downloadDirKey) !=
                0)
            continue;
        const std::size_t equals = start + std::char_traits<char>::length(downloadDirKey);
        if (equals >= line.size() || line[equals] != '=')
            continue;
        const std::optional<std::string> value = shellWordValue(line.substr(equals + 1));
        if (!value)
            continue;
        if (const std::optional<std::string> expanded = expandHome(*value))
            folder = expanded;
    }
    return folder;
}

std::optional<std::string> downloadsFolder()
{
    if (const std::optional<std::string> fromEnvironment = environmentValue(downloadDirKey))
        if (const std::optional<std::string> expanded = expandHome(*fromEnvironment))
            return expanded;
    if (const std::optional<std::string> fromSettings = downloadsFromUserDirs())
        return fromSettings;
    if (const std::optional<std::string> home = homeFolder())
        return *home + "/Downloads";
    return std::nullopt;
}

std::optional<std::string> folderPath(KnownFolder folder)
{
    switch (folder)
    {
    case KnownFolder::Downloads:
        return downloadsFolder();
    case KnownFolder::Profile:
        return homeFolder();
    case KnownFolder::ProgramData:
        return std::string("/var/lib");
    case KnownFolder::ProgramFilesX86:
    case KnownFolder::ProgramFilesX64:
        return std::string("/opt");
    }
    return std::nullopt;
}
} // namespace

// Narrow text is UTF-8 here, so a found path never needs converting.
bool knownFolderPath(KnownFolder folder, std::string& path, int* /*conversionError*/)
{
    const std::optional<std::string> found = folderPath(folder);
    if (!found)
        return false;
    path = withoutTrailingSeparators(*found);
    return true;
}

} // namespace Veltora::Platform
