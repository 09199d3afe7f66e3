#include "tools/demo_server/PublishedTree.h"

#include <boost/filesystem/fstream.hpp>
#include <boost/filesystem/operations.hpp>

#include <algorithm>
#include <sstream>
#include <utility>

namespace Veltora::Demo
{

namespace fs = boost::filesystem;

namespace
{
// One path segment of a file that is published: not hidden, and never leaving its folder.
bool isPublishedName(const std::string& name)
{
    return !name.empty() && name.front() != '.' && name.find('/') == std::string::npos &&
           name.find('\\') == std::string::npos;
}
} // namespace

PublishedTree::PublishedTree(fs::path siteFolder) : site(std::move(siteFolder)) {}

std::optional<std::string> PublishedTree::latestResources(const std::string& type,
                                                          const std::string& sku,
                                                          const std::string& platform,
                                                          const std::string&)
{
    const auto file = servedFile(site / "api" / "resources", {type, sku, platform, "latest"});
    if (!file)
        return std::nullopt;
    fs::ifstream input(*file, std::ios::binary);
    std::ostringstream text;
    text << input.rdbuf();
    return text.str();
}

std::optional<fs::path> PublishedTree::installerFile(const std::vector<std::string>& segments) const
{
    if (segments.size() != 3)
        return std::nullopt;
    return servedFile(site / "files", segments);
}

std::optional<fs::path> PublishedTree::servedFile(const fs::path& below,
                                                  const std::vector<std::string>& segments) const
{
    if (!std::all_of(segments.begin(), segments.end(), isPublishedName))
        return std::nullopt;
    fs::path file = below;
    for (const std::string& segment : segments)
        file /= segment;
    boost::system::error_code error;
    if (!fs::is_regular_file(fs::symlink_status(file, error)))
        return std::nullopt;
    return file;
}

} // namespace Veltora::Demo
