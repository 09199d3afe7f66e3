#include "UpdateManager/signing/SignatureCheck.h"

#include "UpdateManager/signing/Base64.h"
#include "UpdateManager/signing/OpenSslHandles.h"

#include <openssl/err.h>

#include <optional>

namespace Veltora::UpdateManager
{
namespace
{
constexpr std::size_t signatureSize = 64;

const unsigned char* bytesOf(const std::string& text)
{
    return reinterpret_cast<const unsigned char*>(text.data());
}

// True only when OpenSSL confirms the signature; any failure inside the library counts as
// a signature that does not verify.
bool verifiedByKey(const SigningPublicKey& key, const std::string& text,
                   const std::string& signature)
{
    const EvpPkeyPointer publicKey(EVP_PKEY_new_raw_public_key(
        EVP_PKEY_ED25519, nullptr, bytesOf(key.rawBytes()), key.rawBytes().size()));
    const EvpMdContextPointer context(EVP_MD_CTX_new());
    const bool verified =
        publicKey && context &&
        EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, publicKey.get()) == 1 &&
        EVP_DigestVerify(context.get(), bytesOf(signature), signature.size(), bytesOf(text),
                         text.size()) == 1;
    // A refused signature leaves entries in this thread's error queue; they must not be
    // mistaken for the failure of a later OpenSSL call here (TLS uses the same library).
    ERR_clear_error();
    return verified;
}
} // namespace

SignatureCheck checkSignature(const SigningPublicKey& key, const std::string& canonicalText,
                              const std::string& signatureBase64)
{
    if (signatureBase64.empty())
        return SignatureCheck::Missing;
    const std::optional<std::string> signature = decodeBase64(signatureBase64);
    if (!signature)
        return SignatureCheck::NotBase64;
    if (signature->size() != signatureSize)
        return SignatureCheck::WrongLength;
    return verifiedByKey(key, canonicalText, *signature) ? SignatureCheck::Valid
                                                         : SignatureCheck::Mismatch;
}

const char* describe(SignatureCheck check)
{
    switch (check)
    {
    case SignatureCheck::Valid:
        return "valid";
    case SignatureCheck::Missing:
        return "missing";
    case SignatureCheck::NotBase64:
        return "not base64";
    case SignatureCheck::WrongLength:
        return "not 64 bytes long";
    case SignatureCheck::Mismatch:
        return "not made by the updater's key for this release";
    }
    return "unknown";
}

} // namespace Veltora::UpdateManager
