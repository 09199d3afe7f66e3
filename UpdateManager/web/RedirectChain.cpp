#include "UpdateManager/web/RedirectChain.h"

#include "UpdateManager/core/MaskedUrl.h"

#include <Poco/Exception.h>
#include <boost/algorithm/string/case_conv.hpp>

#include <algorithm>

namespace Veltora::UpdateManager
{

bool RedirectChain::isRedirect(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

RedirectChain::RedirectChain(const Poco::URI& firstUrl) : first(firstUrl)
{
    visited.push_back(visitKey(first));
}

RedirectChain::Hop RedirectChain::follow(const Poco::URI& current, const std::string& location)
{
    if (location.empty())
        return {std::nullopt, "the answer names no Location"};
    Poco::URI next;
    try
    {
        next = Poco::URI(current, location);
    }
    catch (const Poco::Exception& error)
    {
        return {std::nullopt,
                "the Location " + maskedUrl(location) + " is not an address: " + error.message()};
    }
    next.setUserInfo("");
    next.setFragment("");
    const std::string scheme = next.getScheme();
    if (scheme != "http" && scheme != "https")
        return {std::nullopt,
                "the Location " + maskedUrl(location) + " is not an http or " + "https address"};
    if (current.getScheme() == "https" && scheme == "http")
        return {std::nullopt,
                "a redirect from https to http (" + next.toString() + ") is never followed"};
    if (next.getHost().empty())
        return {std::nullopt, "the Location " + maskedUrl(location) + " names no host"};
    if (followed >= maxRedirects)
        return {std::nullopt, "more than " + std::to_string(maxRedirects) + " redirects"};
    const std::string key = visitKey(next);
    if (std::find(visited.begin(), visited.end(), key) != visited.end())
        return {std::nullopt, "a redirect loop (back to " + next.toString() + ")"};
    visited.push_back(key);
    ++followed;
    return {next, ""};
}

std::string RedirectChain::credentialsFor(const Poco::URI& target) const
{
    const bool sameOrigin = target.getScheme() == first.getScheme() &&
                            boost::algorithm::to_lower_copy(target.getHost()) ==
                                boost::algorithm::to_lower_copy(first.getHost()) &&
                            target.getPort() == first.getPort();
    return sameOrigin ? first.getUserInfo() : "";
}

// The URL as it is fetched: without user information and fragment.
std::string RedirectChain::visitKey(const Poco::URI& uri)
{
    Poco::URI key(uri);
    key.setUserInfo("");
    key.setFragment("");
    key.setHost(boost::algorithm::to_lower_copy(key.getHost()));
    return key.toString();
}

} // namespace Veltora::UpdateManager
