#pragma once

#include "UpdateManager/signing/OpenSslHandles.h"

#include <cstddef>
#include <string>

namespace Veltora::UpdateManager
{

// SHA-256 of bytes fed in pieces, through OpenSSL (which uses the processor's SHA
// instructions where it has them), so a file can be hashed while it is read or written
// for another purpose. Throws std::runtime_error only when OpenSSL cannot set up the
// digest.
class Sha256Digest
{
public:
    Sha256Digest();

    void update(const char* bytes, std::size_t count);

    // 64 lowercase hexadecimal characters; ends the digest: later calls return the same
    // text and update must not be called again.
    std::string hexDigest();

private:
    EvpMdContextPointer context;
    std::string finished;
};

} // namespace Veltora::UpdateManager
