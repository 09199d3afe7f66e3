#pragma once

#include "UpdateManager/scan/VersionFinder.h"

#include <memory>
#include <vector>

namespace Veltora::UpdateManager
{

// A product's finders, asked in order until one yields a version.
class VersionFinderSet : public VersionFinder
{
public:
    void add(std::unique_ptr<VersionFinder> finder);
    const std::vector<std::unique_ptr<VersionFinder>>& members() const { return finders; }

    // The first version found wins. Otherwise `version` becomes "unknown" when some finder
    // found the product's file, else "not_installed", and the result is false.
    bool find(std::string& version, bool& found) const override;

private:
    std::vector<std::unique_ptr<VersionFinder>> finders;
};

} // namespace Veltora::UpdateManager
