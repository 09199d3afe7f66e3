#pragma once

#include <cstdint>
#include <string>

namespace Veltora::UpdateManager
{

// Installed-version texts with a fixed meaning: nothing of the product was found, or its
// file was found but carries no readable version.
inline constexpr char notInstalledVersion[] = "not_installed";
inline constexpr char unknownVersion[] = "unknown";

// A dotted version as one comparable number: the first four pieces, each a strict decimal
// of 16 bits, packed from the most significant end (1.2 -> 2^48 + 2^33). Fewer than two
// pieces, or any piece among the first four that is not a valid number, give 0; so do
// "not_installed" and "unknown". Never fails.
std::uint64_t packVersion(const std::string& version);

} // namespace Veltora::UpdateManager
