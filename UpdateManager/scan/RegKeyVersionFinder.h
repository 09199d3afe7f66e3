#pragma once

#include "UpdateManager/scan/VersionFinder.h"

#include <string>

namespace Veltora::UpdateManager
{

// A "regkey" scan rule: a registry string value names the product's installation folder,
// and the installed version is the file version of a file inside it.
class RegKeyVersionFinder : public VersionFinder
{
public:
    // `keyAndValue` is split at its last "/" or "\" into key path and value name; without
    // a separator both are the whole text. `subFolder` may be empty.
    RegKeyVersionFinder(const std::u16string& keyAndValue, const std::u16string& fileName,
                        const std::u16string& subFolder);

    const std::u16string& registryKeyPath() const { return keyPath; }
    const std::u16string& registryValueName() const { return valueName; }

    bool find(std::string& version, bool& found) const override;

private:
    std::u16string keyPath;
    std::u16string valueName;
    std::u16string fileName;
    std::u16string subFolder;
};

// Reads the string value `valueName` of the key `keyPath`, whose start names the root
// ("HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE", "HKEY_CLASSES_ROOT", any case) and whose
// part after the first backslash is the sub key. An unknown root is logged as an error;
// every other failure gives false silently.
bool readRegistryString(const std::u16string& keyPath, const std::u16string& valueName,
                        std::string& value);

} // namespace Veltora::UpdateManager
