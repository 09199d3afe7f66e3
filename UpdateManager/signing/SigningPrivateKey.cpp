#include "UpdateManager/signing/SigningPrivateKey.h"

#include "UpdateManager/signing/Base64.h"
#include "UpdateManager/signing/SigningError.h"
#include "platform/Platform.h"

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/pem.h>

#include <boost/filesystem/fstream.hpp>

#include <cerrno>
#include <cstring>

namespace Veltora::UpdateManager
{
namespace
{
constexpr std::size_t signatureSize = 64;
// Far above any PEM key; anything larger is not one and is not read into memory.
constexpr std::streamoff maximumKeyFileSize = 64 * 1024;

// Leaves OpenSSL's error queue of this thread empty, so a failure here cannot be taken for
// one of a later OpenSSL call on the same thread (the TLS connections use the library
// too).
[[noreturn]] void fail(const std::string& reason)
{
    ERR_clear_error();
    throw SigningError(reason);
}

// A string whose bytes are wiped when it goes away: it holds key material.
class SecretText
{
public:
    SecretText() = default;
    ~SecretText() { OPENSSL_cleanse(text.data(), text.size()); }
    SecretText(const SecretText&) = delete;
    SecretText& operator=(const SecretText&) = delete;
    std::string text;
};

// Refuses to ask for a pass phrase: a tool run from a script must never wait on the
// terminal.
int noPassPhrase(char*, int, int, void*)
{
    return -1;
}

// Reads into a buffer of the file's size at once, so no stray copy of the key is left in
// memory freed while growing.
void readFile(const std::string& path, std::string& content)
{
    boost::filesystem::ifstream input(path, std::ios::binary | std::ios::ate);
    if (!input)
        fail("cannot read the private key " + path + ": " + std::strerror(errno));
    const std::streamoff size = input.tellg();
    if (size < 0 || size > maximumKeyFileSize)
        fail(path + " is not a PEM private key");
    content.assign(static_cast<std::size_t>(size), '\0');
    input.seekg(0);
    if (!input.read(content.data(), size))
        fail("cannot read the private key " + path);
}

std::string pemOf(EVP_PKEY* key)
{
    const BioPointer memory(BIO_new(BIO_s_mem()));
    if (!memory ||
        PEM_write_bio_PrivateKey(memory.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1)
        fail("cannot write the private key as PEM");
    char* data = nullptr;
    const long length = BIO_get_mem_data(memory.get(), &data);
    std::string pem(data, static_cast<std::size_t>(length));
    OPENSSL_cleanse(data, static_cast<std::size_t>(length));
    return pem;
}
} // namespace

SigningPrivateKey::SigningPrivateKey(EvpPkeyPointer pkey) : key(std::move(pkey)) {}

SigningPrivateKey SigningPrivateKey::generate()
{
    const EvpPkeyContextPointer context(EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr));
    EVP_PKEY* made = nullptr;
    if (!context || EVP_PKEY_keygen_init(context.get()) != 1 ||
        EVP_PKEY_keygen(context.get(), &made) != 1)
        fail("cannot generate an Ed25519 key");
    return SigningPrivateKey(EvpPkeyPointer(made));
}

SigningPrivateKey SigningPrivateKey::fromPemFile(const std::string& path)
{
    SecretText pem;
    readFile(path, pem.text);
    const BioPointer memory(BIO_new_mem_buf(pem.text.data(), static_cast<int>(pem.text.size())));
    EvpPkeyPointer loaded(
        memory ? PEM_read_bio_PrivateKey(memory.get(), nullptr, noPassPhrase, nullptr) : nullptr);
    if (!loaded)
        fail(path + " is not an unencrypted PEM private key");
    if (EVP_PKEY_get_id(loaded.get()) != EVP_PKEY_ED25519)
        fail(path + " is not an Ed25519 private key");
    return SigningPrivateKey(std::move(loaded));
}

void SigningPrivateKey::saveAsNewPemFile(const std::string& path) const
{
    SecretText pem;
    pem.text = pemOf(key.get());
    std::string error;
    if (!Platform::createPrivateFile(path, pem.text, error))
        fail("cannot create the private key file " + path + ": " + error);
}

SigningPublicKey SigningPrivateKey::publicKey() const
{
    std::string raw(SigningPublicKey::rawSize, '\0');
    std::size_t length = raw.size();
    if (EVP_PKEY_get_raw_public_key(key.get(), reinterpret_cast<unsigned char*>(raw.data()),
                                    &length) != 1 ||
        length != raw.size())
        fail("cannot read the public half of the private key");
    return *SigningPublicKey::fromRawBytes(raw);
}

std::string SigningPrivateKey::sign(const std::string& text) const
{
    const EvpMdContextPointer context(EVP_MD_CTX_new());
    std::string signature(signatureSize, '\0');
    std::size_t length = signature.size();
    // Ed25519 hashes the message itself, so no digest is named and the text goes in whole.
    if (!context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1 ||
        EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &length,
                       reinterpret_cast<const unsigned char*>(text.data()), text.size()) != 1 ||
        length != signatureSize)
        fail("cannot sign with the private key");
    return encodeBase64(signature);
}

} // namespace Veltora::UpdateManager
