#include "tests/support/ReferenceDigests.h"

#include <Poco/DigestEngine.h>
#include <Poco/SHA2Engine.h>

#include <openssl/evp.h>

#include <cstdio>
#include <stdexcept>

namespace Veltora::Testing
{

std::string referenceMd5Of(const std::string& bytes)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_md5(), nullptr) != 1)
        throw std::runtime_error("OpenSSL cannot compute an MD5 digest");
    std::string text;
    char pair[3];
    for (unsigned int index = 0; index < size; ++index)
    {
        std::snprintf(pair, sizeof(pair), "%02x", digest[index]);
        text += pair;
    }
    return text;
}

std::string referenceSha256Of(const std::string& bytes)
{
    Poco::SHA2Engine engine(Poco::SHA2Engine::SHA_256);
    engine.update(bytes.data(), static_cast<unsigned>(bytes.size()));
    return Poco::DigestEngine::digestToHex(engine.digest());
}

} // namespace Veltora::Testing
