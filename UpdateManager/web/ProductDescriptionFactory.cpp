#include "UpdateManager/web/ProductDescriptionFactory.h"

#include "UpdateManager/web/Resources.h"

#include "log/CLog.h"
#include "log/LogCategory.h"
#include "platform/Platform.h"

#include <boost/filesystem/operations.hpp>

#include <iostream>

namespace Veltora::UpdateManager
{

namespace
{
using boost::property_tree::ptree;
namespace fs = boost::filesystem;

std::string productPageUrl(const ptree& resource)
{
    const std::string href = resource.get<std::string>("links.product_page.href", "");
    return href.empty() ? resource.get<std::string>("resources_site_link") : href;
}

void logFailedCopy(const fs::path& file, const std::string& reason)
{
    CLog::getInstance()->log(LogCategory::description, LogError,
                             "Could not save the release notes in ", file.string(), ": ", reason);
}

// Creates the folder for the copy when nothing has its name yet (what is there already is
// judged by the writer, which refuses links). False when it could not be created.
bool makeNotesFolder(const fs::path& directory, const fs::path& file)
{
    boost::system::error_code error;
    if (fs::symlink_status(directory, error).type() != fs::file_not_found)
        return true;
    fs::create_directory(directory, error);
    if (!error)
        return true;
    logFailedCopy(file, "cannot create the folder: " + error.message());
    return false;
}

// Writes the HTML to <folder>temp/<sku>.html and returns its "file://" address. The copy
// is only for the user to read: when it cannot be written, or the folder or the file is a
// link, that is logged and the address is returned all the same.
std::string saveReleaseNotes(const std::string& sku, const std::string& html)
{
    const fs::path directory(Veltora::Resources::getInstance()->folder() + "temp");
    const std::string name = sku + ".html";
    const fs::path file = directory / name;
    std::string reason;
    if (makeNotesFolder(directory, file) &&
        !Platform::writeTextFileInFolder(directory.string(), name, html, reason))
        logFailedCopy(file, reason);
    return "file://" + file.string();
}

// "size" as an unsigned 64-bit number, surrounding blanks allowed; 0 when missing or not a
// number.
std::uint64_t sizeOf(const ptree& resource)
{
    return resource.get_optional<std::uint64_t>("size").value_or(0);
}
} // namespace

bool ProductDescriptionFactory::create(const std::string& sku, const std::string& type,
                                       const std::string& localVersion, const ptree& resource,
                                       ProductDescription& out)
{
    try
    {
        if (resource.get<std::string>("product_sku") != sku)
            return false;
        out.sku = sku;
        out.type = type;
        out.localVersion = localVersion;
        out.name = resource.get<std::string>("name");
        out.permalink = resource.get<std::string>("permalink");
        out.version = resource.get<std::string>("version");
        out.productPageUrl = productPageUrl(resource);
        const std::string html = resource.get<std::string>("release_notes_html", "");
        out.releaseNotesUrl = html.empty() ? std::string() : saveReleaseNotes(sku, html);
        out.platformMinVersion = resource.get<std::string>("platform_min_version", "");
        out.platformMaxVersion = resource.get<std::string>("platform_max_version", "");
        out.platformDisplayVersion = resource.get<std::string>("platform_display_version", "");
        out.size = sizeOf(resource);
        out.checksum = resource.get<std::string>("checksum", "");
        out.sha256 = resource.get<std::string>("sha256", "");
        out.signature = resource.get<std::string>("signature", "");
    }
    catch (const boost::property_tree::ptree_bad_path& error)
    {
        std::cout << error.what() << '\n';
        return false;
    }
    catch (const boost::property_tree::ptree_bad_data& error)
    {
        std::cout << error.what() << '\n';
        return false;
    }
    return true;
}

} // namespace Veltora::UpdateManager
