#pragma once

#include "tools/demo_server/ReleaseSource.h"

namespace Veltora::Demo
{

// A tree written by updater-publish, served as a static web server would serve it:
//
//     <site>/api/resources/<type>/<sku>/<platform>/latest   the answer, as it is
//     <site>/files/<sku>/<version>/<installer>              the installers
//
// Names that start with a dot (files updater-publish is still writing) are never served,
// nor anything that is not a regular file.
class PublishedTree : public ReleaseSource
{
public:
    explicit PublishedTree(boost::filesystem::path site);

    std::optional<std::string> latestResources(const std::string& type, const std::string& sku,
                                               const std::string& platform,
                                               const std::string& serverAddress) override;
    std::optional<boost::filesystem::path>
    installerFile(const std::vector<std::string>& segments) const override;

private:
    std::optional<boost::filesystem::path>
    servedFile(const boost::filesystem::path& below,
               const std::vector<std::string>& segments) const;

    boost::filesystem::path site;
};

} // namespace Veltora::Demo
