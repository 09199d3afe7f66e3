#pragma once

#include <string>

namespace Veltora::Testing
{

// Digests of `bytes` in lower-case hexadecimal, each from a library other than the one the
// code under test digests with, so that they are a reference and not an echo: the MD5 from
// OpenSSL (the downloads take theirs from POCO), the SHA-256 from POCO (the downloads and
// the signature checks take theirs from OpenSSL).
std::string referenceMd5Of(const std::string& bytes);
std::string referenceSha256Of(const std::string& bytes);

} // namespace Veltora::Testing
