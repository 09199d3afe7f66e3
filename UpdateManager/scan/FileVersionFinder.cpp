#include "UpdateManager/scan/FileVersionFinder.h"

#include "UpdateManager/scan/KnownFolders.h"
#include "log/CLog.h"
#include "log/LogCategory.h"
#include "platform/Platform.h"

#include <boost/filesystem/operations.hpp>

namespace Veltora::UpdateManager
{

FileVersionFinder::FileVersionFinder(const std::string& pathText)
    : path(expandPathPlaceholder(pathText))
{
}

bool FileVersionFinder::find(std::string& version, bool& found) const
{
    if (!findFileVersion(path, version, found))
        return false;
    CLog::getInstance()->log(LogCategory::updateManager, LogDebug, "FileVersion: Found version ",
                             version, " for item ", path.string());
    return true;
}

bool findFileVersion(const boost::filesystem::path& file, std::string& version, bool& found)
{
    found = false;
    try
    {
        if (!boost::filesystem::exists(file))
            return false;
    }
    catch (const boost::filesystem::filesystem_error&)
    {
        return false;
    }
    found = true;
    return readFileVersion(file.string(), version);
}

bool readFileVersion(const std::string& file, std::string& version)
{
    Platform::FileVersion fixed;
    if (!Platform::readFixedFileVersion(file, fixed))
        return false;
    version = std::to_string(fixed.major & 0xFF) + "." + std::to_string(fixed.minor & 0xFF) + "." +
              std::to_string(fixed.build) + "." + std::to_string(fixed.revision);
    return true;
}

} // namespace Veltora::UpdateManager
