#include "UpdateManager/web/ProxySettings.h"

#include <Poco/Exception.h>
#include <Poco/Net/IPAddress.h>
#include <Poco/URI.h>
#include <boost/algorithm/string/case_conv.hpp>
#include <boost/algorithm/string/predicate.hpp>

#include <cstdlib>

namespace Veltora::UpdateManager
{
namespace
{
// The first of the two spellings that is set and not empty, with its name.
std::pair<std::string, std::string> environmentSetting(const std::string& lowerCaseName)
{
    for (const std::string& name : {lowerCaseName, boost::algorithm::to_upper_copy(lowerCaseName)})
    {
        const char* value = std::getenv(name.c_str());
        if (value != nullptr && *value != '\0')
            return {value, name};
    }
    return {"", lowerCaseName};
}

// A host as requests and no_proxy entries are compared: lower case, without the brackets
// of an IPv6 address and without the final dot of a fully qualified name.
std::string comparableHost(std::string host)
{
    boost::algorithm::to_lower(host);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    if (!host.empty() && host.back() == '.')
        host.pop_back();
    return host;
}

std::optional<std::uint16_t> portNumber(const std::string& text)
{
    if (text.empty() || text.size() > 5 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const int number = std::stoi(text);
    if (number < 1 || number > 65535)
        return std::nullopt;
    return static_cast<std::uint16_t>(number);
}

std::optional<Poco::Net::IPAddress> ipAddress(const std::string& text)
{
    Poco::Net::IPAddress address;
    if (!Poco::Net::IPAddress::tryParse(text, address))
        return std::nullopt;
    return address;
}

// Splits "host", "host:port", "[v6]", "[v6]:port" and a bare IPv6 address (two colons or
// more, never a port) into host and port text.
std::pair<std::string, std::string> splitHostAndPort(const std::string& entry)
{
    if (!entry.empty() && entry.front() == '[')
    {
        const auto close = entry.find(']');
        if (close == std::string::npos)
            return {entry, ""};
        const std::string rest = entry.substr(close + 1);
        return {entry.substr(1, close - 1), rest.empty() ? "" : rest.substr(1)};
    }
    const auto colon = entry.find(':');
    if (colon == std::string::npos || entry.find(':', colon + 1) != std::string::npos)
        return {entry, ""};
    return {entry.substr(0, colon), entry.substr(colon + 1)};
}
} // namespace

ProxySettings::ProxySettings(const std::string& httpProxyUrl, const std::string& httpsProxyUrl,
                             const std::string& noProxy)
    : ProxySettings(Setting{httpProxyUrl, "http_proxy"}, Setting{httpsProxyUrl, "https_proxy"},
                    Setting{noProxy, "no_proxy"})
{
}

ProxySettings::ProxySettings(const Setting& http, const Setting& https, const Setting& noProxy)
    : httpProxy(parseProxy(http)), httpsProxy(parseProxy(https))
{
    std::string entry;
    for (const char character : noProxy.value + ",")
    {
        if (character != ',' && character != ' ' && character != '\t')
        {
            entry += character;
            continue;
        }
        if (entry == "*")
            bypassEverything = true;
        else if (auto exception = parseException(entry))
            exceptions.push_back(*exception);
        entry.clear();
    }
}

ProxySettings ProxySettings::fromEnvironment()
{
    const auto [http, httpName] = environmentSetting("http_proxy");
    const auto [https, httpsName] = environmentSetting("https_proxy");
    const auto [noProxy, noProxyName] = environmentSetting("no_proxy");
    return ProxySettings(Setting{http, httpName}, Setting{https, httpsName},
                         Setting{noProxy, noProxyName});
}

std::optional<Proxy> ProxySettings::proxyFor(const std::string& scheme, const std::string& host,
                                             std::uint16_t port) const
{
    const std::optional<Proxy>& proxy =
        boost::algorithm::iequals(scheme, "https") ? httpsProxy : httpProxy;
    if (!proxy || bypasses(host, port))
        return std::nullopt;
    return proxy;
}

bool ProxySettings::bypasses(const std::string& host, std::uint16_t port) const
{
    if (bypassEverything)
        return true;
    const std::string requested = comparableHost(host);
    for (const Exception& exception : exceptions)
        if (matches(exception, requested, port))
            return true;
    return false;
}

// "[http://][user[:password]@]host[:port][/]"; anything else is kept with its problem, so
// that requests fail with it instead of bypassing the proxy the user asked for.
std::optional<Proxy> ProxySettings::parseProxy(const Setting& setting)
{
    if (setting.value.empty())
        return std::nullopt;
    Proxy proxy;
    proxy.url = setting.value;
    proxy.variable = setting.variable;
    const bool hasScheme = setting.value.find("://") != std::string::npos;
    try
    {
        const Poco::URI uri(hasScheme ? setting.value : "http://" + setting.value);
        if (uri.getScheme() != "http")
            proxy.problem = "only http:// proxies are supported, not " + uri.getScheme() + "://";
        else if (uri.getHost().empty())
            proxy.problem = "it names no host";
        proxy.host = uri.getHost();
        proxy.port = uri.getPort();
        const std::string userInfo = uri.getUserInfo();
        const auto colon = userInfo.find(':');
        proxy.user = userInfo.substr(0, colon);
        proxy.password = colon == std::string::npos ? "" : userInfo.substr(colon + 1);
    }
    catch (const Poco::Exception& error)
    {
        proxy.problem = error.displayText();
    }
    return proxy;
}

// One entry of no_proxy; nothing for an empty or unusable one (such as a bad port), which
// then names no host.
std::optional<ProxySettings::Exception> ProxySettings::parseException(std::string entry)
{
    if (boost::algorithm::starts_with(entry, "*."))
        entry.erase(0, 1);
    if (!entry.empty() && entry.front() == '.')
        entry.erase(0, 1);
    Exception exception;
    const auto slash = entry.find('/');
    if (slash != std::string::npos)
    {
        const std::string length = entry.substr(slash + 1);
        const auto network = ipAddress(entry.substr(0, slash));
        if (!network || length.empty() || length.size() > 3 ||
            length.find_first_not_of("0123456789") != std::string::npos ||
            static_cast<unsigned>(std::stoi(length)) > static_cast<unsigned>(network->length()) * 8)
            return std::nullopt;
        exception.host = comparableHost(entry.substr(0, slash));
        exception.prefixLength = static_cast<unsigned>(std::stoi(length));
        return exception;
    }
    const auto [host, port] = splitHostAndPort(entry);
    exception.host = comparableHost(host);
    if (exception.host.empty())
        return std::nullopt;
    if (!port.empty())
    {
        exception.port = portNumber(port);
        if (!exception.port)
            return std::nullopt;
    }
    return exception;
}

bool ProxySettings::matches(const Exception& exception, const std::string& host, std::uint16_t port)
{
    if (exception.port && *exception.port != port)
        return false;
    const auto address = ipAddress(host);
    if (exception.prefixLength)
    {
        const auto network = ipAddress(exception.host);
        if (!address || address->family() != network->family())
            return false;
        const Poco::Net::IPAddress mask(*exception.prefixLength, network->family());
        return (*address & mask) == (*network & mask);
    }
    if (address)
    {
        const auto listed = ipAddress(exception.host);
        return listed && *listed == *address;
    }
    return host == exception.host || boost::algorithm::ends_with(host, "." + exception.host);
}

} // namespace Veltora::UpdateManager
