#include "tools/publish/ReleaseTree.h"

#include <boost/filesystem/fstream.hpp>
#include <boost/filesystem/operations.hpp>
#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace Veltora::Publish
{
namespace fs = boost::filesystem;

namespace
{
std::string reasonOf(int error)
{
    return error != 0 ? std::strerror(error) : "input/output error";
}

// Removes the temporary answer unless it was renamed onto `latest`.
class TemporaryAnswer
{
public:
    explicit TemporaryAnswer(fs::path file) : path(std::move(file)) {}
    ~TemporaryAnswer()
    {
        boost::system::error_code ignored;
        if (!renamed)
            fs::remove(path, ignored);
    }
    TemporaryAnswer(const TemporaryAnswer&) = delete;
    TemporaryAnswer& operator=(const TemporaryAnswer&) = delete;

    void write(const std::string& text) const
    {
        fs::ofstream output(path, std::ios::binary | std::ios::trunc);
        if (!output || !output.write(text.data(), static_cast<std::streamsize>(text.size())) ||
            (output.close(), !output))
            throw std::runtime_error("cannot write " + path.string() + ": " + reasonOf(errno));
    }

    void renameOnto(const fs::path& target)
    {
        boost::system::error_code error;
        fs::rename(path, target, error);
        if (error)
            throw std::runtime_error("cannot replace " + target.string() + ": " + error.message());
        renamed = true;
    }

private:
    fs::path path;
    bool renamed = false;
};
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
                                 reasonOf(errno));
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
    const fs::path latest = latestFile(sku, platform);
    TemporaryAnswer temporary(latest.parent_path() / fs::unique_path(".latest.partial-%%%%%%%%"));
    temporary.write(answer);
    temporary.renameOnto(latest);
}

} // namespace Veltora::Publish
