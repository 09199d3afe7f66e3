#pragma once

#include <boost/filesystem/path.hpp>

#include <optional>
#include <string>

namespace Veltora::Publish
{

// The static tree that serves the resources API and the installers:
//
//     <root>/files/<sku>/<version>/<installer file name>
//     <root>/api/resources/soft/<sku>/<platform>/latest
//
// `latest` is the answer to the updater's GET of /api/resources/soft/<sku>/<platform>/latest.
// Every failure throws std::runtime_error with a one-line reason.
class ReleaseTree
{
public:
    explicit ReleaseTree(boost::filesystem::path root);

    // The path of an installer below the root, with "/" separators: also its URL path.
    static std::string installerPath(const std::string& sku, const std::string& version,
                                     const std::string& fileName);

    boost::filesystem::path installerFile(const std::string& sku, const std::string& version,
                                          const std::string& fileName) const;
    boost::filesystem::path latestFile(const std::string& sku, const std::string& platform) const;

    // The version `latest` names now; nothing when nothing is published yet. A `latest`
    // that is not a resources answer with a version is an error: it is not overwritten
    // blindly.
    std::optional<std::string> publishedVersion(const std::string& sku,
                                                const std::string& platform) const;

    // Creates the folder (and its parents) or says which one cannot be created.
    void createFolder(const boost::filesystem::path& folder) const;

    // Replaces `latest` by `answer` in one step: the text is written to a temporary file
    // in the same folder and renamed over `latest`, so a reader gets the old answer or the
    // new one, never a part.
    void replaceLatest(const std::string& sku, const std::string& platform,
                       const std::string& answer) const;

private:
    boost::filesystem::path root;
};

} // namespace Veltora::Publish
