#pragma once

#include <string>

namespace Veltora::UpdateManager
{

// One way of finding a product's installed version.
class VersionFinder
{
public:
    virtual ~VersionFinder() = default;

    // True when a version was obtained into `version`. `found` always receives whether the
    // product's file was found at all, whatever the result.
    virtual bool find(std::string& version, bool& found) const = 0;
};

} // namespace Veltora::UpdateManager
