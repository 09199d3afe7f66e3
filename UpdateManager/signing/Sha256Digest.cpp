#include "UpdateManager/signing/Sha256Digest.h"

#include <openssl/err.h>

#include <stdexcept>

namespace Veltora::UpdateManager
{

Sha256Digest::Sha256Digest() : context(EVP_MD_CTX_new())
{
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1)
    {
        ERR_clear_error();
        throw std::runtime_error("cannot set up a SHA-256 digest");
    }
}

void Sha256Digest::update(const char* bytes, std::size_t count)
{
    EVP_DigestUpdate(context.get(), bytes, count);
}

std::string Sha256Digest::hexDigest()
{
    if (!finished.empty())
        return finished;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(context.get(), digest, &length);
    static const char hexDigits[] = "0123456789abcdef";
    for (unsigned int index = 0; index < length; ++index)
    {
        finished += hexDigits[digest[index] >> 4];
        finished += hexDigits[digest[index] & 0x0F];
    }
    return finished;
}

} // namespace Veltora::UpdateManager
