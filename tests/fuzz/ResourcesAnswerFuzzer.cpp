// The resources server's answer, read the way the update manager reads it: bounded JSON,
// the envelope, then the first resource object as a product description. Release notes
// are copied to temp/PRD.html below the current directory, as in the updater; run it in a
// scratch folder (scripts/fuzz.sh and the fuzz tests do).

#include "UpdateManager/core/BoundedJson.h"
#include "UpdateManager/web/ProductDescriptionFactory.h"
#include "UpdateManager/web/ResourceList.h"
#include "tests/fuzz/FuzzSupport.h"

#include <boost/filesystem/fstream.hpp>
#include <boost/property_tree/json_parser.hpp>

#include <iterator>

using namespace Veltora::UpdateManager;
using Veltora::Fuzzing::fuzzCheck;

namespace
{
const std::string sku = "PRD";
const std::string type = "soft";
const std::string localVersion = "1.0";

std::string fileText(const boost::filesystem::path& file)
{
    boost::filesystem::ifstream stream(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(stream), {});
}

void checkDescription(const boost::property_tree::ptree& resource,
                      const ProductDescription& description)
{
    fuzzCheck(description.sku == sku && description.type == type &&
                  description.localVersion == localVersion,
              "the description keeps the caller's SKU, type and installed version");
    fuzzCheck(description.version == resource.get<std::string>("version"),
              "the description's version is the resource's");
    const std::string notes = resource.get<std::string>("release_notes_html", "");
    fuzzCheck(notes.empty() == description.releaseNotesUrl.empty(),
              "release notes give a notes address, and only they do");
    if (!notes.empty())
        fuzzCheck(fileText("temp/" + sku + ".html") == notes,
                  "the notes copy holds the release notes");
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    boost::property_tree::ptree answer;
    try
    {
        readBoundedJson(Veltora::Fuzzing::textOf(data, size), answer);
    }
    catch (const boost::property_tree::json_parser_error&)
    {
        return 0;
    }
    const ResourceList resources(answer);
    if (!resources.isValid())
        return 0;
    ProductDescription description;
    ProductDescriptionFactory factory;
    bool created = false;
    try
    {
        created = factory.create(sku, type, localVersion, resources.firstResource(), description);
    }
    catch (const std::exception&)
    {
        // The update manager catches these around the whole query.
        return 0;
    }
    if (!created)
        return 0;
    checkDescription(resources.firstResource(), description);
    try
    {
        description.isPlatformSupported();
    }
    catch (const std::exception&)
    {
        // The state refresh turns a version without digits into OsNotSupported.
    }
    return 0;
}
