#pragma once

#include <boost/filesystem/path.hpp>

#include <optional>
#include <string>
#include <vector>

namespace Veltora::Demo
{

// Where the demo server takes its releases from: the resources API answers and the
// installer files.
class ReleaseSource
{
public:
    virtual ~ReleaseSource() = default;

    // The resources API answer for one product; nothing when there is none to give (the
    // server answers 404). `serverAddress` is the host and port the client used. Throws
    // std::runtime_error when a release is unusable.
    virtual std::optional<std::string> latestResources(const std::string& type,
                                                       const std::string& sku,
                                                       const std::string& platform,
                                                       const std::string& serverAddress) = 0;

    // The installer file that the path segments after "/files/" name; nothing for
    // anything that is not such a file.
    virtual std::optional<boost::filesystem::path>
    installerFile(const std::vector<std::string>& segments) const = 0;
};

} // namespace Veltora::Demo
