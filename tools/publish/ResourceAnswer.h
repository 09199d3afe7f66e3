#pragma once

#include "tools/publish/InstallerCopy.h"

#include <optional>
#include <string>

namespace Veltora::Publish
{

// Everything the published resource object says about one release.
struct PublishedRelease
{
    std::string sku;
    std::string name;
    std::string version;
    std::string permalink;
    std::string productPage;
    std::optional<std::string> releaseNotesHtml;
    std::optional<std::string> platformMinVersion;
    InstallerFacts installer;
    std::optional<std::string> signature;
};

// The resources API answer for one release, as JSON text:
//
//     {"total": 1, "resources": [{
//         "product_sku", "name", "version", "permalink",
//         "links": {"product_page": {"href"}},
//         "release_notes_html"      (only with release notes),
//         "platform_min_version"    (only when given),
//         "size" (number), "checksum" (MD5), "sha256",
//         "signature"               (only when signed)}]}
//
// Older updaters ignore "sha256" and "signature".
std::string resourcesAnswer(const PublishedRelease& release);

} // namespace Veltora::Publish
