#include "UpdateManager/scan/VersionFinderSet.h"

#include "UpdateManager/scan/Versions.h"
#include "log/CLog.h"
#include "log/LogCategory.h"

namespace Veltora::UpdateManager
{

void VersionFinderSet::add(std::unique_ptr<VersionFinder> finder)
{
    finders.push_back(std::move(finder));
}

bool VersionFinderSet::find(std::string& version, bool& found) const
{
    found = false;
    version = unknownVersion;
    for (const std::unique_ptr<VersionFinder>& finder : finders)
    {
        bool fileFound = false;
        const bool obtained = finder->find(version, fileFound);
        found = found || fileFound;
        if (obtained)
            return true;
    }
    if (!found)
        version = notInstalledVersion;
    CLog::getInstance()->log(LogCategory::updateManager, LogDebug,
                             "VersionFinderSet: Didn't find any version number.");
    return false;
}

} // namespace Veltora::UpdateManager
