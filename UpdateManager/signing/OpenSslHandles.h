#pragma once

#include <openssl/bio.h>
#include <openssl/evp.h>

#include <memory>

namespace Veltora::UpdateManager
{

// Owning pointers for the OpenSSL objects the signing code uses; each frees its object
// with the matching OpenSSL call.
struct EvpPkeyFree
{
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct EvpPkeyContextFree
{
    void operator()(EVP_PKEY_CTX* context) const { EVP_PKEY_CTX_free(context); }
};
struct EvpMdContextFree
{
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
struct BioFree
{
    void operator()(BIO* bio) const { BIO_free_all(bio); }
};

using EvpPkeyPointer = std::unique_ptr<EVP_PKEY, EvpPkeyFree>;
using EvpPkeyContextPointer = std::unique_ptr<EVP_PKEY_CTX, EvpPkeyContextFree>;
using EvpMdContextPointer = std::unique_ptr<EVP_MD_CTX, EvpMdContextFree>;
using BioPointer = std::unique_ptr<BIO, BioFree>;

} // namespace Veltora::UpdateManager
