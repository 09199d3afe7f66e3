#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace Veltora::UpdateManager
{

// What a release signature vouches for: which product and platform the installer is for,
// which version it installs, and the installer's exact bytes (size and SHA-256).
//
// The signature is made over canonicalText(), which publisher and updater must build
// byte for byte alike. It is six lines, each ended by one line feed (0x0A), the last one
// included, with no other blanks and no carriage returns:
//
//     veltora-release-signature-v1
//     sku=<sku>
//     platform=<platform>
//     version=<version>
//     size=<size>
//     sha256=<sha256>
//
// <sku>, <platform> and <version> are the texts as the resources API carries them, byte
// for byte (no trimming, no case folding); <size> is the installer's size in bytes in
// decimal without leading zeros ("0" for an empty file); <sha256> is the installer's
// SHA-256 as 64 lowercase hexadecimal characters. The first line names this form, so a
// later form can never be mistaken for it.
struct SignedRelease
{
    std::string sku;
    std::string platform;
    std::string version;
    std::uint64_t size = 0;
    std::string sha256;

    // The text above; nothing when a field cannot be written unambiguously: an empty
    // sku, platform or version, one holding a line feed, carriage return or NUL, or a
    // sha256 that is not 64 lowercase hexadecimal characters.
    std::optional<std::string> canonicalText() const;
};

} // namespace Veltora::UpdateManager
