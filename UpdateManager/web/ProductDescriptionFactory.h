#pragma once

#include "UpdateManager/core/ProductDescription.h"

#include <boost/property_tree/ptree.hpp>

#include <string>

namespace Veltora::UpdateManager
{

// Turns one resource object of the resources API answer into a ProductDescription.
// Release notes ("release_notes_html") are saved as <Resources folder>temp/<sku>.html and
// the description keeps a "file://" address of that copy. The copy is never written
// through a link; when it cannot be written that is logged (category "description") and
// the description is made all the same.
class ProductDescriptionFactory
{
public:
    virtual ~ProductDescriptionFactory() = default;

    // False when the resource names another SKU (exact comparison) or lacks a required key
    // ("product_sku", "name", "permalink", "version", and "resources_site_link" when
    // "links.product_page.href" is empty); the tree's error text then goes to standard
    // output and `out` may be partly written.
    virtual bool create(const std::string& sku, const std::string& type,
                        const std::string& localVersion,
                        const boost::property_tree::ptree& resource, ProductDescription& out);
};

} // namespace Veltora::UpdateManager
