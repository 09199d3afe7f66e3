#pragma once

#include <Poco/URI.h>

#include <optional>
#include <string>
#include <vector>

namespace Veltora::UpdateManager
{

// The redirects of one request: whether an answer is one, where it leads, and whether it
// may be followed. Mirrors, object stores and CDNs answer a permalink with a redirect to
// where the bytes are; the rules keep that from being used against the client:
//
// - at most maxRedirects redirects per request; a URL visited before is a loop;
// - a relative Location is resolved against the URL that answered;
// - only http and https addresses are followed, and never from https to http;
// - the user information of the first URL (basic authentication) goes only to URLs of its
//   own scheme, host and port; user information in a Location is never used.
class RedirectChain
{
public:
    static constexpr int maxRedirects = 5;

    // 301, 302, 303, 307 and 308.
    static bool isRedirect(int status);

    explicit RedirectChain(const Poco::URI& first);

    // Where a redirect from `current` to `location` leads, without user information, or
    // why it is not followed.
    struct Hop
    {
        std::optional<Poco::URI> next;
        std::string refusal;
    };
    Hop follow(const Poco::URI& current, const std::string& location);

    // The user information to send with a request to `target`: the first URL's when
    // `target` has its scheme, host and port, otherwise none.
    std::string credentialsFor(const Poco::URI& target) const;

private:
    static std::string visitKey(const Poco::URI& uri);

    Poco::URI first;
    std::vector<std::string> visited;
    int followed = 0;
};

} // namespace Veltora::UpdateManager
