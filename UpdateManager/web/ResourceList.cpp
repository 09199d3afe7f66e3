#include "UpdateManager/web/ResourceList.h"

#include "log/CLog.h"
#include "log/LogCategory.h"

#include <exception>

namespace Veltora::UpdateManager
{

std::string makeResourcesPath(const std::string& sku, const std::string& type,
                              const std::string& platform, const std::string& selector)
{
    return "/api/resources/" + type + "/" + sku + "/" + platform + "/" + selector;
}

ResourceList::ResourceList(const boost::property_tree::ptree& answer)
{
    try
    {
        parse(answer);
    }
    catch (const std::exception& error)
    {
        CLog::getInstance()->log(LogCategory::updateManager, LogError,
                                 "Error in resource parsing: ", error.what());
    }
    catch (...)
    {
        CLog::getInstance()->log(LogCategory::updateManager, LogError,
                                 "Unknown error in resource parsing");
    }
}

void ResourceList::parse(const boost::property_tree::ptree& answer)
{
    const int total = answer.get<int>("total");
    const boost::property_tree::ptree resources = answer.get_child("resources");
    const int count = static_cast<int>(resources.size());
    if (count == 0)
        CLog::getInstance()->log(LogCategory::updateManager, LogWarning, "Resource is empty");
    else if (count == total)
    {
        first = resources.front().second;
        valid = true;
    }
    else
        CLog::getInstance()->log(LogCategory::updateManager, LogError,
                                 "Invalid resources: ", "got ", count, " while ",
                                 "total indicates ", total);
}

} // namespace Veltora::UpdateManager
