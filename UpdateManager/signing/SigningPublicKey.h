#pragma once

#include <optional>
#include <string>

namespace Veltora::UpdateManager
{

// The Ed25519 public key that release signatures are checked with. Its text form, the one
// the CMake cache variable UPDATER_SIGNING_PUBLIC_KEY carries and `updater-publish keygen`
// prints, is the base64 of the raw 32-byte key (RFC 8032): 44 characters, the last one
// "=", for example "11qYAYKxCrfVS/7TyWQHOg7hcvPapiMlrwIaaPcHURo=" (the test key of RFC
// 8032, whose private half is public: never build an updater with it).
class SigningPublicKey
{
public:
    static constexpr std::size_t rawSize = 32;

    // The key a text form stands for; nothing unless the text is exactly the base64 of
    // 32 bytes (no blanks or line breaks around it, see decodeBase64).
    static std::optional<SigningPublicKey> fromText(const std::string& text);
    // The key of 32 raw bytes; nothing for any other length.
    static std::optional<SigningPublicKey> fromRawBytes(const std::string& bytes);

    std::string text() const;
    const std::string& rawBytes() const { return raw; }

    bool operator==(const SigningPublicKey& other) const { return raw == other.raw; }
    bool operator!=(const SigningPublicKey& other) const { return raw != other.raw; }

private:
    explicit SigningPublicKey(std::string bytes) : raw(std::move(bytes)) {}

    std::string raw;
};

} // namespace Veltora::UpdateManager
