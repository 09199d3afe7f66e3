#pragma once

#include <boost/property_tree/ptree.hpp>

#include <string>

namespace Veltora::UpdateManager
{

// The resources API path asking for a product's release: "/api/resources/" + type + "/" +
// sku + "/" + platform + "/" + selector. The pieces are not escaped; the caller puts the
// server text directly in front.
std::string makeResourcesPath(const std::string& sku, const std::string& type,
                              const std::string& platform, const std::string& selector);

// The envelope of a resources API answer ({"total": n, "resources": [...]}), checked at
// construction. Valid when "resources" holds exactly "total" elements, at least one; only
// the first resource is kept. Problems are logged in category "update_manager".
class ResourceList
{
public:
    explicit ResourceList(const boost::property_tree::ptree& answer);

    bool isValid() const { return valid; }
    // The first resource object; empty unless valid.
    const boost::property_tree::ptree& firstResource() const { return first; }

private:
    void parse(const boost::property_tree::ptree& answer);

    bool valid = false;
    boost::property_tree::ptree first;
};

} // namespace Veltora::UpdateManager
