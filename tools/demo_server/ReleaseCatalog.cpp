#include "tools/demo_server/ReleaseCatalog.h"

#include <Poco/DigestEngine.h>
#include <Poco/JSON/Array.h>
#include <Poco/JSON/Object.h>
#include <Poco/JSON/Parser.h>
#include <Poco/MD5Engine.h>
#include <boost/filesystem/fstream.hpp>
#include <boost/filesystem/operations.hpp>

#include <sstream>
#include <stdexcept>
#include <utility>
#include <vector>

namespace Veltora::Demo
{

namespace fs = boost::filesystem;

namespace
{
// A single path segment: no separators and none of the names that leave a folder.
bool isPlainName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\\') == std::string::npos;
}

Poco::JSON::Object::Ptr readReleaseDescription(const fs::path& file)
{
    fs::ifstream input(file, std::ios::binary);
    if (!input)
        throw std::runtime_error("cannot read " + file.string());
    std::stringstream text;
    text << input.rdbuf();
    Poco::JSON::Parser parser;
    Poco::JSON::Object::Ptr release = parser.parse(text.str()).extract<Poco::JSON::Object::Ptr>();
    if (release.isNull() || !release->has("installer"))
        throw std::runtime_error(file.string() + " names no \"installer\"");
    return release;
}

std::string envelope(const Poco::JSON::Array::Ptr& resources)
{
    Poco::JSON::Object answer;
    answer.set("total", static_cast<int>(resources->size()));
    answer.set("resources", resources);
    std::ostringstream text;
    answer.stringify(text);
    return text.str();
}
} // namespace

ReleaseCatalog::ReleaseCatalog(fs::path releasesFolder) : folder(std::move(releasesFolder)) {}

std::optional<std::string> ReleaseCatalog::latestResources(const std::string& type,
                                                           const std::string& sku,
                                                           const std::string&,
                                                           const std::string& serverAddress)
{
    Poco::JSON::Array::Ptr resources = new Poco::JSON::Array;
    const fs::path description = folder / sku / "release.json";
    if (type != "soft" || !isPlainName(sku) || !fs::is_regular_file(description))
        return envelope(resources);

    Poco::JSON::Object::Ptr release = readReleaseDescription(description);
    const std::string installerName = release->getValue<std::string>("installer");
    const std::optional<fs::path> installer = installerFile({sku, installerName});
    if (!installer)
        throw std::runtime_error("installer \"" + installerName + "\" of " + sku + " is missing");

    Poco::JSON::Object::Ptr resource = new Poco::JSON::Object(*release);
    resource->remove("installer");
    resource->set("product_sku", sku);
    resource->set("permalink", "http://" + serverAddress + "/files/" + sku + "/" + installerName);
    if (!resource->has("resources_site_link"))
        resource->set("resources_site_link", "http://" + serverAddress + "/products/" + sku);
    if (!resource->has("size"))
        resource->set("size", static_cast<Poco::UInt64>(fs::file_size(*installer)));
    if (!resource->has("checksum"))
        resource->set("checksum", md5Of(*installer));
    resources->add(resource);
    return envelope(resources);
}

std::optional<fs::path>
ReleaseCatalog::installerFile(const std::vector<std::string>& segments) const
{
    if (segments.size() != 2)
        return std::nullopt;
    const std::string& sku = segments[0];
    const std::string& name = segments[1];
    if (!isPlainName(sku) || !isPlainName(name) || name == "release.json")
        return std::nullopt;
    const fs::path file = folder / sku / name;
    boost::system::error_code error;
    if (!fs::is_regular_file(fs::symlink_status(file, error)))
        return std::nullopt;
    return file;
}

std::string ReleaseCatalog::md5Of(const fs::path& file)
{
    const std::uintmax_t size = fs::file_size(file);
    const std::time_t modified = fs::last_write_time(file);
    {
        std::lock_guard<std::mutex> lock(digestMutex);
        const auto known = digests.find(file.string());
        if (known != digests.end() && known->second.size == size &&
            known->second.modified == modified)
            return known->second.md5;
    }

    Poco::MD5Engine engine;
    fs::ifstream input(file, std::ios::binary);
    std::vector<char> block(1 << 20);
    while (input.read(block.data(), static_cast<std::streamsize>(block.size())) ||
           input.gcount() > 0)
        engine.update(block.data(), static_cast<std::size_t>(input.gcount()));
    const std::string md5 = Poco::DigestEngine::digestToHex(engine.digest());

    std::lock_guard<std::mutex> lock(digestMutex);
    digests[file.string()] = Digest{size, modified, md5};
    return md5;
}

} // namespace Veltora::Demo
