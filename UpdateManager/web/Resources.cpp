#include "UpdateManager/web/Resources.h"

#include "log/CLog.h"

namespace Veltora
{

std::string Resources::folder() const
{
    if (resourcesFolder.empty())
        CLog::getInstance()->log("description", LogError, "Resources Folder not yet defined");
    return resourcesFolder;
}

} // namespace Veltora
