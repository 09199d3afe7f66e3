#include "UpdateManager/core/MaskedUrl.h"

#include <cctype>

namespace Veltora::UpdateManager
{
namespace
{
// Where the authority starts: after "scheme://" when the text begins with a scheme name
// (a letter, then letters, digits, "+", "-" or "."), otherwise at the start, since a bare
// "user:password@host/path" is an address too.
std::size_t authorityStart(const std::string& url)
{
    const std::size_t separator = url.find("://");
    if (separator == std::string::npos || separator == 0 ||
        !std::isalpha(static_cast<unsigned char>(url[0])))
        return 0;
    for (std::size_t index = 1; index < separator; ++index)
    {
        const auto character = static_cast<unsigned char>(url[index]);
        if (!std::isalnum(character) && character != '+' && character != '-' && character != '.')
            return 0;
    }
    return separator + 3;
}
} // namespace

std::string maskedUrl(const std::string& url)
{
    const std::size_t start = authorityStart(url);
    const std::size_t end = std::min(url.find_first_of("/?#", start), url.size());
    // The last "@" ends the user information, as URL parsers read it; everything before it
    // may be secret.
    const std::size_t at = url.rfind('@', end == 0 ? 0 : end - 1);
    if (at == std::string::npos || at < start || at >= end)
        return url;
    const std::string userInfo = url.substr(start, at - start);
    const std::string user = userInfo.substr(0, userInfo.find(':'));
    return url.substr(0, start) + user + ":***" + url.substr(at);
}

} // namespace Veltora::UpdateManager
