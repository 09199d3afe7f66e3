#include "UpdateManager/web/Resources.h"

#include "log/CLog.h"
#include "log/LogCategory.h"

namespace Veltora
{

std::string Resources::folder() const
{
    if (resourcesFolder.empty())
        CLog::getInstance()->log(LogCategory::description, LogError,
                                 "Resources Folder not yet defined");
    return resourcesFolder;
}

} // namespace Veltora
