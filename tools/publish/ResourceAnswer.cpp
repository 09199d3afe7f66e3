#include "tools/publish/ResourceAnswer.h"

#include <Poco/JSON/Array.h>
#include <Poco/JSON/Object.h>

#include <sstream>

namespace Veltora::Publish
{
namespace
{
// Keys keep the order they are set in, so the file reads in the order documented above.
Poco::JSON::Object::Ptr orderedObject()
{
    return new Poco::JSON::Object(Poco::JSON_PRESERVE_KEY_ORDER);
}

Poco::JSON::Object::Ptr productPageLinks(const std::string& href)
{
    Poco::JSON::Object::Ptr productPage = orderedObject();
    productPage->set("href", href);
    Poco::JSON::Object::Ptr links = orderedObject();
    links->set("product_page", productPage);
    return links;
}

Poco::JSON::Object::Ptr resourceObject(const PublishedRelease& release)
{
    Poco::JSON::Object::Ptr resource = orderedObject();
    resource->set("product_sku", release.sku);
    resource->set("name", release.name);
    resource->set("version", release.version);
    resource->set("permalink", release.permalink);
    resource->set("links", productPageLinks(release.productPage));
    if (release.releaseNotesHtml)
        resource->set("release_notes_html", *release.releaseNotesHtml);
    if (release.platformMinVersion)
        resource->set("platform_min_version", *release.platformMinVersion);
    resource->set("size", static_cast<Poco::UInt64>(release.installer.size));
    resource->set("checksum", release.installer.md5);
    resource->set("sha256", release.installer.sha256);
    if (release.signature)
        resource->set("signature", *release.signature);
    return resource;
}
} // namespace

std::string resourcesAnswer(const PublishedRelease& release)
{
    Poco::JSON::Array::Ptr resources = new Poco::JSON::Array;
    resources->add(resourceObject(release));
    Poco::JSON::Object::Ptr answer = orderedObject();
    answer->set("total", 1);
    answer->set("resources", resources);
    std::ostringstream text;
    answer->stringify(text, 2);
    text << '\n';
    return text.str();
}

} // namespace Veltora::Publish
