#pragma once

#include <cstdint>
#include <string>

namespace Veltora::UpdateManager
{

// The server's description of a product's latest release, merged with the installed
// version. The update manager sets localVersion, sku and type; the description factory
// fills the rest from the server's answer.
struct ProductDescription
{
    std::string localVersion;
    std::string name;
    std::string sku;
    std::string type;
    std::string version;
    std::string permalink;
    std::string productPageUrl;
    std::string releaseNotesUrl;
    std::string platformMinVersion;
    std::string platformMaxVersion;
    std::string platformDisplayVersion;
    std::uint64_t size = 0;
    std::string checksum;
    // The installer's SHA-256 in lowercase hexadecimal and the base64 Ed25519 signature
    // over the release, both as the server sent them; empty when it sent none. Only an
    // updater built with a signing key looks at them.
    std::string sha256;
    std::string signature;

    // Whether the running operating system lies within the release's minimum and maximum
    // platform versions. A version component without digits throws std::invalid_argument.
    bool isPlatformSupported() const;
};

} // namespace Veltora::UpdateManager
