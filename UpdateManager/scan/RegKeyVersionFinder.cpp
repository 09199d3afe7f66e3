#include "UpdateManager/scan/RegKeyVersionFinder.h"

#include "UpdateManager/scan/FileVersionFinder.h"
#include "log/CLog.h"
#include "log/LogCategory.h"
#include "platform/Platform.h"

#include <boost/filesystem/path.hpp>

#include <array>
#include <optional>
#include <utility>

namespace Veltora::UpdateManager
{
namespace
{
using Platform::RegistryRoot;

const std::array<std::pair<std::u16string_view, RegistryRoot>, 3> rootPrefixes = {{
    {u"HKEY_CURRENT_USER", RegistryRoot::CurrentUser},
    {u"HKEY_LOCAL_MACHINE", RegistryRoot::LocalMachine},
    {u"HKEY_CLASSES_ROOT", RegistryRoot::ClassesRoot},
}};

char16_t asciiUpper(char16_t unit)
{
    return unit >= u'a' && unit <= u'z' ? static_cast<char16_t>(unit - u'a' + u'A') : unit;
}

bool startsWithIgnoringCase(const std::u16string& text, std::u16string_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (std::size_t index = 0; index < prefix.size(); ++index)
        if (asciiUpper(text[index]) != asciiUpper(prefix[index]))
            return false;
    return true;
}

std::optional<RegistryRoot> rootOf(const std::u16string& keyPath)
{
    for (const auto& [prefix, root] : rootPrefixes)
        if (startsWithIgnoringCase(keyPath, prefix))
            return root;
    return std::nullopt;
}

// The installation folder, then the sub folder, then the file; empty parts add nothing.
boost::filesystem::path joinedPath(const std::string& folder, const std::u16string& subFolder,
                                   const std::u16string& fileName)
{
    boost::filesystem::path joined(folder);
    for (const std::u16string* part : {&subFolder, &fileName})
        if (!part->empty())
            joined /= Platform::narrowText(*part);
    return joined;
}
} // namespace

RegKeyVersionFinder::RegKeyVersionFinder(const std::u16string& keyAndValue,
                                         const std::u16string& file, const std::u16string& folder)
    : fileName(file), subFolder(folder)
{
    const std::size_t separator = keyAndValue.find_last_of(u"/\\");
    if (separator == std::u16string::npos)
    {
        keyPath = keyAndValue;
        valueName = keyAndValue;
        return;
    }
    keyPath = keyAndValue.substr(0, separator);
    valueName = keyAndValue.substr(separator + 1);
}

bool RegKeyVersionFinder::find(std::string& version, bool& found) const
{
    found = false;
    std::string folder;
    if (!readRegistryString(keyPath, valueName, folder))
        return false;
    if (!findFileVersion(joinedPath(folder, subFolder, fileName), version, found))
        return false;
    CLog::getInstance()->log(LogCategory::updateManager, LogDebug, "RegKeyVersion: Found version ",
                             version, " for item ", Platform::narrowText(keyPath), "/",
                             Platform::narrowText(valueName));
    return true;
}

bool readRegistryString(const std::u16string& keyPath, const std::u16string& valueName,
                        std::string& value)
{
    const std::optional<RegistryRoot> root = rootOf(keyPath);
    if (!root)
    {
        CLog::getInstance()->log(LogCategory::external, LogError,
                                 "Reg Key is none of {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, "
                                 "HKEY_CLASSES_ROOT}\n The registrykey could not be resolved.");
        return false;
    }
    const std::size_t backslash = keyPath.find(u'\\');
    const std::u16string subKey =
        backslash == std::u16string::npos ? keyPath : keyPath.substr(backslash + 1);
    return Platform::readRegistryValue(*root, subKey, valueName, value);
}

} // namespace Veltora::UpdateManager
