#pragma once

#include "tools/demo_server/ReleaseSource.h"

#include <boost/filesystem/path.hpp>

#include <cstdint>
#include <ctime>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace Veltora::Demo
{

// The releases the demo server offers, read from a folder with one sub-folder per SKU:
//
//     releases/<sku>/release.json   {"name": "...", "version": "2.0.0", "installer": "file"}
//     releases/<sku>/<file>         the installer
//
// "installer" names the installer file beside release.json; every other member of
// release.json is copied into the resource object as it is, so a release may also carry
// "platform_min_version", "release_notes_html", or a deliberately wrong "checksum" or
// "size". Missing "size" and "checksum" are measured from the file (the MD5 is cached
// until the file changes); the permalink points back at this server.
class ReleaseCatalog : public ReleaseSource
{
public:
    explicit ReleaseCatalog(boost::filesystem::path folder);

    // The resources API answer for one product, on every platform: {"total": 1,
    // "resources": [...]} for a known SKU of type "soft", {"total": 0, "resources": []}
    // otherwise. The permalink points at `serverAddress`.
    std::optional<std::string> latestResources(const std::string& type, const std::string& sku,
                                               const std::string& platform,
                                               const std::string& serverAddress) override;

    // The installer file a permalink names (/files/<sku>/<installer>); nothing for
    // anything that is not a regular file directly inside a SKU's folder.
    std::optional<boost::filesystem::path>
    installerFile(const std::vector<std::string>& segments) const override;

private:
    struct Digest
    {
        std::uintmax_t size = 0;
        std::time_t modified = 0;
        std::string md5;
    };

    std::string md5Of(const boost::filesystem::path& file);

    boost::filesystem::path folder;
    std::mutex digestMutex;
    std::map<std::string, Digest> digests;
};

} // namespace Veltora::Demo
