#include "UpdateManager/scan/Scanner.h"

#include "UpdateManager/scan/Versions.h"
#include "UpdateManager/web/CTiming.h"
#include "log/CLog.h"
#include "log/LogCategory.h"

namespace Veltora::UpdateManager
{
namespace
{
const char* const scannedType = "soft";
}

Scanner::Scanner(const boost::filesystem::path& definitionFile)
{
    loaded = loadDefinition(definitionFile);
}

std::pair<ProductKey, std::string> Scanner::scanProduct(const std::string& sku) const
{
    CLog::getInstance()->log(LogCategory::updateManager, LogInfo, "Searching for ", sku);
    std::pair<ProductKey, std::string> result{ProductKey{sku, scannedType}, notInstalledVersion};
    const auto set = finderSets.find(sku);
    if (set != finderSets.end())
    {
        std::string version;
        bool found = false;
        set->second.find(version, found);
        result.second = version;
    }
    CLog::getInstance()->log(LogCategory::updateManager, LogInfo, "Searching for ", "Found ", sku,
                             "/", result.second);
    return result;
}

std::map<ProductKey, std::string> Scanner::completeScan() const
{
    CTiming timing("Complete Scan", true);
    CLog::getInstance()->log(LogCategory::updateManager, LogInfo, "Complete Scan");
    std::map<ProductKey, std::string> versions;
    for (const auto& [sku, set] : finderSets)
    {
        std::string version;
        bool found = false;
        set.find(version, found);
        versions[ProductKey{sku, scannedType}] = version;
    }
    return versions;
}

const VersionFinderSet* Scanner::findersOf(const std::string& sku) const
{
    const auto set = finderSets.find(sku);
    return set == finderSets.end() ? nullptr : &set->second;
}

} // namespace Veltora::UpdateManager
