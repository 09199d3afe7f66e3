#include "UpdateManager/web/ProductDescriptionFactory.h"

#include "UpdateManager/web/Resources.h"

#include <boost/filesystem/fstream.hpp>
#include <boost/filesystem/operations.hpp>

#include <iostream>

namespace Veltora::UpdateManager
{

namespace
{
using boost::property_tree::ptree;

std::string productPageUrl(const ptree& resource)
{
    const std::string href = resource.get<std::string>("links.product_page.href", "");
    return href.empty() ? resource.get<std::string>("resources_site_link") : href;
}

// Writes the HTML to <folder>temp/<sku>.html and returns its "file://" address. A file
// that cannot be opened is silently not written; the address is returned all the same.
std::string saveReleaseNotes(const std::string& sku, const std::string& html)
{
    const boost::filesystem::path directory(Veltora::Resources::getInstance()->folder() + "temp");
    if (!boost::filesystem::exists(directory))
        boost::filesystem::create_directory(directory);
    const boost::filesystem::path file = directory / (sku + ".html");
    boost::filesystem::ofstream notes(file, std::ios::out | std::ios::trunc);
    if (notes)
        notes << html;
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
