#pragma once

#include "UpdateManager/signing/SigningPublicKey.h"

#include <string>

namespace Veltora::UpdateManager
{

// The outcome of checking a release signature; only Valid lets a release through.
enum class SignatureCheck
{
    Valid,
    // No signature text at all.
    Missing,
    // Not base64 in the exact form decodeBase64 accepts.
    NotBase64,
    // Base64, but not of the 64 bytes of an Ed25519 signature (a cut or padded text).
    WrongLength,
    // A well-formed signature that the key does not confirm for this text: made with
    // another key, or over another text (any field of the release changed).
    Mismatch
};

// Checks an Ed25519 signature, given as base64, of `canonicalText` (see
// SignedRelease::canonicalText) against `key`. Never throws.
SignatureCheck checkSignature(const SigningPublicKey& key, const std::string& canonicalText,
                              const std::string& signatureBase64);

// A short phrase for log lines: "valid", "missing", "not base64", "not 64 bytes long",
// "not made by the updater's key for this release".
const char* describe(SignatureCheck check);

} // namespace Veltora::UpdateManager
