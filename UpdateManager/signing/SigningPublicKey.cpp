#include "UpdateManager/signing/SigningPublicKey.h"

#include "UpdateManager/signing/Base64.h"

namespace Veltora::UpdateManager
{

std::optional<SigningPublicKey> SigningPublicKey::fromText(const std::string& text)
{
    const std::optional<std::string> bytes = decodeBase64(text);
    if (!bytes)
        return std::nullopt;
    return fromRawBytes(*bytes);
}

std::optional<SigningPublicKey> SigningPublicKey::fromRawBytes(const std::string& bytes)
{
    if (bytes.size() != rawSize)
        return std::nullopt;
    return SigningPublicKey(bytes);
}

std::string SigningPublicKey::text() const
{
    return encodeBase64(raw);
}

} // namespace Veltora::UpdateManager
