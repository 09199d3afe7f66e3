#pragma once

#include "UpdateManager/core/ProductKey.h"
#include "UpdateManager/scan/VersionFinderSet.h"

#include <boost/filesystem/path.hpp>
#include <boost/property_tree/ptree_fwd.hpp>

#include <map>
#include <string>
#include <utility>

namespace Veltora::UpdateManager
{

// Finds the installed versions of products by the scan rules of a definition file: per
// SKU an ordered set of finders. The rules are read once, at construction; every scan
// reads the file system and the registry anew.
class Scanner
{
public:
    // Loads the definition file; a missing or invalid file leaves the scanner empty.
    explicit Scanner(const boost::filesystem::path& definitionFile);

    // The product (sku, "soft") with its installed version, "unknown" or "not_installed".
    std::pair<ProductKey, std::string> scanProduct(const std::string& sku) const;
    // Every product the scanner knows, keyed (sku, "soft"), with its version text.
    std::map<ProductKey, std::string> completeScan() const;

    // Reads the definition file into the finder sets. False when the file is missing or
    // is not valid JSON; a definition without "scanner" counts as loaded.
    bool loadDefinition(const boost::filesystem::path& definitionFile);
    // Creates the finders of one product's "rules" and appends them to its set.
    void addRules(const std::string& sku, const boost::property_tree::ptree& rules);

    // The product's finders, or null when the scanner does not know the SKU.
    const VersionFinderSet* findersOf(const std::string& sku) const;

private:
    std::map<std::string, VersionFinderSet> finderSets;
    bool loaded = false;
};

} // namespace Veltora::UpdateManager
