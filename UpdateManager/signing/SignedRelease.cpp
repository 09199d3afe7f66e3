#include "UpdateManager/signing/SignedRelease.h"

#include <algorithm>

namespace Veltora::UpdateManager
{
namespace
{
constexpr char formLine[] = "veltora-release-signature-v1";
constexpr std::size_t sha256HexLength = 64;

// A value that stays on its line: not empty, no line break, no NUL.
bool isLineValue(const std::string& value)
{
    return !value.empty() && value.find_first_of(std::string("\n\r\0", 3)) == std::string::npos;
}

bool isLowercaseSha256(const std::string& text)
{
    return text.size() == sha256HexLength &&
           std::all_of(text.begin(), text.end(),
                       [](char character) {
                           return (character >= '0' && character <= '9') ||
                                  (character >= 'a' && character <= 'f');
                       });
}
} // namespace

std::optional<std::string> SignedRelease::canonicalText() const
{
    if (!isLineValue(sku) || !isLineValue(platform) || !isLineValue(version) ||
        !isLowercaseSha256(sha256))
        return std::nullopt;
    return std::string(formLine) + "\n" + "sku=" + sku + "\n" + "platform=" + platform + "\n" +
           "version=" + version + "\n" + "size=" + std::to_string(size) + "\n" +
           "sha256=" + sha256 + "\n";
}

} // namespace Veltora::UpdateManager
