#include "UpdateManager/web/WebRequest.h"

#include "log/CLog.h"

#include <Poco/Net/HTTPBasicCredentials.h>
#include <Poco/Net/HTTPClientSession.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/Net/HTTPResponse.h>
#include <Poco/Timespan.h>
#include <Poco/URI.h>
#include <boost/property_tree/json_parser.hpp>

#include <cctype>
#include <sstream>
#include <stdexcept>

namespace Veltora::UpdateManager
{

namespace
{
constexpr const char* category = "web";
constexpr long timeoutSeconds = 10;

// A URL that does not start with "http:/" in any letter case gets "http://" in front, so
// a bare host (the usual server option) becomes a plain HTTP URL.
std::string normaliseUrl(const std::string& url)
{
    std::string prefix = url.substr(0, 6);
    for (char& character : prefix)
        character = static_cast<char>(std::toupper(static_cast<unsigned char>(character)));
    return prefix == "HTTP:/" ? url : "http://" + url;
}

// Path and query, percent-encoded by the URI class; the fragment is not sent.
std::string requestTarget(const Poco::URI& uri)
{
    const std::string target = uri.getPathAndQuery();
    return target.empty() ? "/" : target;
}

// User information "name:password" (or just "name") becomes basic authentication.
void addCredentials(Poco::Net::HTTPRequest& request, const std::string& userInfo)
{
    const auto colon = userInfo.find(':');
    const std::string user = userInfo.substr(0, colon);
    const std::string password = colon == std::string::npos ? "" : userInfo.substr(colon + 1);
    CLog::getInstance()->log(category, LogDebug, "Authenticate with ", user, ":", password);
    Poco::Net::HTTPBasicCredentials(user, password).authenticate(request);
}

// Whether arrays and objects nest deeper than `limit`; the JSON reader recurses once per
// level, so a hostile answer could otherwise exhaust the stack.
bool nestsDeeperThan(const std::string& text, int limit)
{
    int depth = 0;
    bool inString = false;
    bool escaped = false;
    for (const char character : text)
    {
        if (inString)
        {
            if (escaped)
                escaped = false;
            else if (character == '\\')
                escaped = true;
            else if (character == '"')
                inString = false;
        }
        else if (character == '"')
            inString = true;
        else if (character == '[' || character == '{')
        {
            if (++depth > limit)
                return true;
        }
        else if (character == ']' || character == '}')
            --depth;
    }
    return false;
}
} // namespace

WebRequest::WebRequest() : client(std::make_unique<Poco::Net::HTTPClientSession>())
{
    client->setTimeout(Poco::Timespan(timeoutSeconds, 0));
}

WebRequest::~WebRequest() = default;

void WebRequest::setStartOffset(std::int64_t offset)
{
    startOffset = offset;
}

std::int64_t WebRequest::expectedTotalSize() const
{
    return startOffset.load() + contentLength.load();
}

WebRequest& WebRequest::send(const std::string& url)
{
    requestState = WebRequestState::Pending;
    progressFraction = 0.0;
    bytesRead = 0;
    // A previous body must not be read again if this request fails before its header.
    ok = false;
    responseStream = nullptr;

    const Poco::URI uri(normaliseUrl(url));
    CLog::getInstance()->log(category, LogDebug, "Request URI: ", uri.toString());
    try
    {
        retarget(uri.getHost(), uri.getPort());
        receiveResponse(requestTarget(uri), uri.getUserInfo());
    }
    catch (const std::exception& error)
    {
        CLog::getInstance()->log(category, LogError, "Error connecting to ", url, ": ",
                                 error.what());
        ok = false;
        responseStream = nullptr;
        closeConnection();
        requestState = WebRequestState::ConnectionFailed;
    }
    return *this;
}

void WebRequest::retarget(const std::string& host, std::uint16_t port)
{
    if (client->getHost() == host && client->getPort() == port)
        return;
    closeConnection();
    client->setHost(host);
    client->setPort(port);
}

void WebRequest::receiveResponse(const std::string& target, const std::string& userInfo)
{
    Poco::Net::HTTPRequest request(Poco::Net::HTTPRequest::HTTP_GET, target,
                                   Poco::Net::HTTPMessage::HTTP_1_1);
    if (!userInfo.empty())
        addCredentials(request, userInfo);
    if (startOffset != 0)
        request.set("Range", "bytes=" + std::to_string(startOffset.load()) + "-");

    client->sendRequest(request);
    Poco::Net::HTTPResponse response;
    std::istream& stream = client->receiveResponse(response);
    if (stream.fail())
    {
        ok = false;
        closeConnection();
        requestState = WebRequestState::ConnectionFailed;
        return;
    }
    responseStream = &stream;

    if (CLog::getInstance()->isEnabled(category, LogDebug))
    {
        std::ostringstream header;
        response.write(header);
        CLog::getInstance()->log(category, LogDebug, "Response Header: ", header.str());
    }
    contentLength = response.getContentLength64();
    const auto status = response.getStatus();
    ok = status == Poco::Net::HTTPResponse::HTTP_OK ||
         status == Poco::Net::HTTPResponse::HTTP_PARTIAL_CONTENT;
    if (status == Poco::Net::HTTPResponse::HTTP_REQUESTED_RANGE_NOT_SATISFIABLE)
        acceptRangeNotSatisfiable(response.get("Content-Range"));
    updateProgress();
}

// A 416 whose total ("bytes */total") equals the start offset means the caller already
// holds the whole resource.
void WebRequest::acceptRangeNotSatisfiable(const std::string& contentRange)
{
    const auto slash = contentRange.rfind('/');
    if (slash == std::string::npos)
        return;
    std::uint64_t total = 0;
    try
    {
        total = std::stoull(contentRange.substr(slash + 1));
    }
    catch (const std::logic_error&)
    {
        CLog::getInstance()->log(category, LogError,
                                 "Bad response header: Content-Range: ", contentRange);
        requestState = WebRequestState::Inconsistent;
        return;
    }
    contentLength =
        static_cast<std::int64_t>(total - static_cast<std::uint64_t>(startOffset.load()));
    ok = contentLength == 0;
}

bool WebRequest::hasMoreData()
{
    if (responseStream == nullptr)
        return false;
    if (responseStream->eof() || bytesRead >= contentLength)
    {
        requestState = WebRequestState::Complete;
        responseStream = nullptr;
        return false;
    }
    if (responseStream->good())
        return true;
    responseStream = nullptr;
    closeConnection();
    requestState = writtenPosition >= startOffset + contentLength ? WebRequestState::Inconsistent
                                                                  : WebRequestState::Interrupted;
    return false;
}

std::int64_t WebRequest::readChunk(std::ostream& out)
{
    if (responseStream == nullptr)
        return 0;
    responseStream->read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    const std::int64_t count = responseStream->gcount();
    if (count > 0)
    {
        out.write(buffer.data(), static_cast<std::streamsize>(count));
        writtenPosition = static_cast<std::int64_t>(out.tellp());
        updateProgress();
        bytesRead += count;
    }
    if (responseStream->bad())
        closeConnection();
    return count;
}

// The fraction is left at 0 while the total is unknown or not positive, instead of
// dividing by zero or reporting a negative fraction.
void WebRequest::updateProgress()
{
    const std::int64_t total = startOffset.load() + contentLength.load();
    progressFraction =
        total > 0 ? static_cast<double>(writtenPosition.load()) / static_cast<double>(total) : 0.0;
}

void WebRequest::closeConnection()
{
    client->reset();
}

bool WebRequest::getJson(const std::string& url, boost::property_tree::ptree& out)
{
    std::stringstream body;
    if (!send(url).isOk())
        return false;
    if (contentLength > maxJsonSize)
    {
        CLog::getInstance()->log(category, LogError,
                                 "Invalid json format Response: ", "response of ",
                                 contentLength.load(), " bytes is larger than ", maxJsonSize);
        responseStream = nullptr;
        closeConnection();
        return false;
    }
    while (hasMoreData())
        readChunk(body);
    if (requestState != WebRequestState::Complete)
        return false;
    if (nestsDeeperThan(body.str(), maxJsonDepth))
    {
        CLog::getInstance()->log(category, LogError,
                                 "Invalid json format Response: ", "nesting deeper than ",
                                 maxJsonDepth, " levels");
        return false;
    }
    try
    {
        boost::property_tree::read_json(body, out);
    }
    catch (const boost::property_tree::json_parser_error& error)
    {
        CLog::getInstance()->log(category, LogError,
                                 "Invalid json format Response: ", error.what());
        return false;
    }
    return true;
}

} // namespace Veltora::UpdateManager
