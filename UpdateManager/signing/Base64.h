#pragma once

#include <optional>
#include <string>

namespace Veltora::UpdateManager
{

// Standard base64 (RFC 4648 alphabet "A-Z a-z 0-9 + /"), padded with "=" to a multiple of
// four characters, without line breaks.
std::string encodeBase64(const std::string& bytes);

// The bytes of a base64 text in exactly the form encodeBase64 writes; nothing for any
// other text: blanks or line breaks, a missing or misplaced "=", characters outside the
// alphabet, or unused low bits that are not zero. So every byte string has one accepted
// text and a signature cannot be altered without changing what it decodes to.
std::optional<std::string> decodeBase64(const std::string& text);

} // namespace Veltora::UpdateManager
