#include "tools/publish/ReleaseTree.h"

#include "tools/publish/PartialFile.h"

#include <boost/filesystem/fstream.hpp>
#include <boost/filesystem/operations.hpp>
#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include <cerrno>
#include <stdexcept>

namespace Veltora::Publish
{
namespace fs = boost::filesystem;

namespace
{
// Writes `text` as the whole content of `file`.
void writeWhole(const fs::path& file, const std::string& text)
{
    fs::ofstream output(file, std::ios::binary | std::ios::trunc);
    if (!output || !output.write(text.data(), static_cast<std::streamsize>(text.size())) ||
        (output.close(), !output))
        throw std::runtime_error("cannot write " + file.string() + ": " + systemErrorText(errno));
}
} // namespace

ReleaseTree::ReleaseTree(fs::path treeRoot) : root(std::move(treeRoot)) {}

std::string ReleaseTree::installerPath(const std::string& sku, const std::string& version,
                                       const std::string& fileName)
{
    return "files/" + sku + "/" + version + "/" + fileName;
}

fs::path ReleaseTree::installerFile(const std::string& sku, const std::string& version,
                                    const std::string& fileName) const
{
    return root / "files" / sku / version / fileName;
}

fs::path ReleaseTree::latestFile(const std::string& sku, const std::string& platform) const
{
    return root / "api" / "resources" / "soft" / sku / platform / "latest";
}

std::optional<std::string> ReleaseTree::publishedVersion(const std::string& sku,
                                                         const std::string& platform) const
{
    const fs::path latest = latestFile(sku, platform);
    boost::system::error_code error;
    if (!fs::exists(fs::symlink_status(latest, error)))
        return std::nullopt;
    fs::ifstream input(latest, std::ios::binary);
    if (!input)
        throw std::runtime_error("cannot read the published " + latest.string() + ": " +
                                 systemErrorText(errno));
    try
    {
        boost::property_tree::ptree answer;
        boost::property_tree::read_json(input, answer);
        const auto& resources = answer.get_child("resources");
        if (resources.empty())
            throw std::runtime_error("it names no resource");
        return resources.front().second.get<std::string>("version");
    }
    catch (const std::exception& failure)
    {
        throw std::runtime_error(latest.string() +
                                 " is not a resources answer with a version, so the published "
                                 "version is unknown (" +
                                 failure.what() + "); remove it to publish anyway");
    }
}

void ReleaseTree::createFolder(const fs::path& folder) const
{
    boost::system::error_code error;
    fs::create_directories(folder, error);
    if (!error)
        return;
    // Name the first folder that could not be made, not only the deepest one.
    fs::path missing = folder;
    while (missing.has_parent_path() && !fs::exists(missing.parent_path()))
        missing = missing.parent_path();
    throw std::runtime_error("cannot create the folder " + missing.string() + ": " +
                             error.message());
}

void ReleaseTree::replaceLatest(const std::string& sku, const std::string& platform,
                                const std::string& answer) const
{
    PartialFile partial(latestFile(sku, platform));
    writeWhole(partial.path(), answer);
    partial.renameOntoTarget();
}

} // namespace Veltora::Publish
