#include "UpdateManager/web/WebRequest.h"

#include "UpdateManager/core/BoundedJson.h"
#include "UpdateManager/core/MaskedUrl.h"
#include "UpdateManager/web/TransferWatch.h"
#include "UpdateManager/web/WatchedSocketImpl.h"
#include "log/CLog.h"
#include "log/LogCategory.h"

#include <Poco/Net/Context.h>
#include <Poco/Net/HTTPBasicCredentials.h>
#include <Poco/Net/HTTPClientSession.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/Net/HTTPResponse.h>
#include <Poco/Net/HTTPSClientSession.h>
#include <Poco/Net/InvalidCertificateHandler.h>
#include <Poco/Net/NetSSL.h>
#include <Poco/Net/SSLException.h>
#include <Poco/Net/SecureStreamSocket.h>
#include <Poco/Net/VerificationErrorArgs.h>
#include <Poco/Timespan.h>
#include <Poco/URI.h>
#include <boost/algorithm/string/predicate.hpp>
#include <boost/algorithm/string/trim.hpp>
#include <boost/property_tree/json_parser.hpp>

#include <cctype>
#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace Veltora::UpdateManager
{

namespace
{
constexpr long timeoutSeconds = 10;
constexpr const char* extraCaFileVariable = "UPDATER_EXTRA_CA_FILE";

// A URL that starts with neither "http:/" nor "https:/" in any letter case gets "http://"
// in front, so a bare host (the usual server option) becomes a plain HTTP URL.
std::string normaliseUrl(const std::string& url)
{
    std::string prefix = url.substr(0, 7);
    for (char& character : prefix)
        character = static_cast<char>(std::toupper(static_cast<unsigned char>(character)));
    const bool http = prefix.compare(0, 6, "HTTP:/") == 0;
    return http || prefix == "HTTPS:/" ? url : "http://" + url;
}

// Why the certificate of this thread's last handshake was refused, as OpenSSL words it
// ("certificate has expired"); the library's exception only says that verification failed.
thread_local std::string certificateProblem;

// Refuses every certificate that fails verification, and notes why.
class RejectingCertificateHandler : public Poco::Net::InvalidCertificateHandler
{
public:
    RejectingCertificateHandler() : InvalidCertificateHandler(false) {}

    void onInvalidCertificate(const void*, Poco::Net::VerificationErrorArgs& error) override
    {
        error.setIgnoreError(false);
        certificateProblem = error.errorMessage();
    }
};

// The system's CAs plus the optional extra file, and peer verification in the strict
// mode, since the relaxed one skips the host-name check for loopback addresses.
Poco::Net::Context::Params clientParams()
{
    Poco::Net::Context::Params params;
    const char* extraCaFile = std::getenv(extraCaFileVariable);
    params.caLocation = extraCaFile != nullptr ? extraCaFile : "";
    params.loadDefaultCAs = true;
    params.verificationMode = Poco::Net::Context::VERIFY_STRICT;
    return params;
}

// The TLS settings of every https request in the process, with TLS 1.2 at least. The
// context's own handler refuses failed certificates, so no process-wide handler or
// application configuration is ever consulted.
Poco::Net::Context::Ptr makeClientContext()
{
    Poco::Net::Context::Ptr context;
    try
    {
        context =
            Poco::makeAuto<Poco::Net::Context>(Poco::Net::Context::TLS_CLIENT_USE, clientParams());
    }
    catch (const Poco::Exception& error)
    {
        // The library's own text (such as "File not found") does not say which file.
        throw Poco::Net::SSLContextException(std::string("Cannot load the CA certificates ") +
                                                 "(system store, " + extraCaFileVariable + ")",
                                             error.displayText());
    }
    context->requireMinimumProtocol(Poco::Net::Context::PROTO_TLSV1_2);
    context->setInvalidCertificateHandler(Poco::makeShared<RejectingCertificateHandler>());
    return context;
}

// Made once, on the first https request; a failure (such as an unreadable extra CA file)
// ends that request in ConnectionFailed and is met again by the next one.
const Poco::Net::Context::Ptr& clientContext()
{
    static const bool sslInitialised = (Poco::Net::initializeSSL(), true);
    (void)sslInitialised;
    static const Poco::Net::Context::Ptr context = makeClientContext();
    return context;
}

// The library's TLS errors give only their kind in what(); the reason is in the message,
// and a refused certificate's own problem is added. A request that the transfer watch
// ended gets the watch's reason.
std::string reasonOf(const std::exception& error, const TransferWatch& watch)
{
    if (!watch.reason().empty())
        return std::string(error.what()) + ": " + watch.reason();
    const auto* tlsError = dynamic_cast<const Poco::Net::SSLException*>(&error);
    if (tlsError == nullptr)
        return error.what();
    const std::string problem = certificateProblem.empty() ? "" : " (" + certificateProblem + ")";
    return tlsError->displayText() + problem;
}

std::unique_ptr<Poco::Net::HTTPClientSession> makeSession(bool secure,
                                                          std::shared_ptr<TransferWatch> watch)
{
    const Poco::Timespan timeout(timeoutSeconds, 0);
    if (!secure)
    {
        auto session = std::make_unique<Poco::Net::HTTPClientSession>(watchedSocket(watch));
        session->setTimeout(timeout);
        return session;
    }
    // The handshake then waits for the first request, when the time-outs are in force;
    // done while connecting, it would wait for a silent server without limit.
    Poco::Net::SecureStreamSocket socket = watchedSecureSocket(watch, clientContext());
    socket.setLazyHandshake(true);
    auto session = std::make_unique<Poco::Net::HTTPSClientSession>(socket);
    // A TLS read or write on a silent socket waits once in the socket and once more in the
    // library before it gives up, so each wait gets half of the time-out.
    const Poco::Timespan halfTimeout(timeout.totalMicroseconds() / 2);
    session->setTimeout(timeout, halfTimeout, halfTimeout);
    return session;
}

// Path and query, percent-encoded by the URI class; the fragment is not sent.
std::string requestTarget(const Poco::URI& uri)
{
    const std::string target = uri.getPathAndQuery();
    return target.empty() ? "/" : target;
}

// User information "name:password" (or just "name") becomes basic authentication. The
// log shows the name only.
void addCredentials(Poco::Net::HTTPRequest& request, const std::string& userInfo)
{
    const auto colon = userInfo.find(':');
    const std::string user = userInfo.substr(0, colon);
    const std::string password = colon == std::string::npos ? "" : userInfo.substr(colon + 1);
    CLog::getInstance()->log(LogCategory::web, LogDebug, "Authenticate with ", user, ":***");
    Poco::Net::HTTPBasicCredentials(user, password).authenticate(request);
}

// Every value of the header fields called `name` (any letter case), blanks trimmed.
std::vector<std::string> fieldValues(const Poco::Net::HTTPResponse& response,
                                     const std::string& name)
{
    std::vector<std::string> values;
    for (const auto& [field, value] : response)
        if (boost::algorithm::iequals(field, name))
            values.push_back(boost::algorithm::trim_copy(value));
    return values;
}

// A decimal whole number of bytes that fits 64 bits, or nothing.
std::optional<std::int64_t> byteCount(const std::string& text)
{
    if (text.empty() || text.size() > 18 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return std::stoll(text);
}

// "bytes first-last/total" or "bytes first-last/*", with last >= first and, when the total
// is given, last < total.
std::optional<ContentRange> parseContentRange(const std::string& value)
{
    const std::string prefix = "bytes ";
    const auto dash = value.find('-');
    const auto slash = value.find('/');
    if (!boost::algorithm::istarts_with(value, prefix) || dash == std::string::npos ||
        slash == std::string::npos || slash < dash)
        return std::nullopt;
    const auto first = byteCount(value.substr(prefix.size(), dash - prefix.size()));
    const auto last = byteCount(value.substr(dash + 1, slash - dash - 1));
    const std::string totalText = value.substr(slash + 1);
    const auto total = totalText == "*" ? std::optional<std::int64_t>(-1) : byteCount(totalText);
    if (!first || !last || !total || *last < *first || (*total >= 0 && *last >= *total))
        return std::nullopt;
    return ContentRange{*first, *last, *total};
}
} // namespace

WebRequest::WebRequest()
    : watch(std::make_shared<TransferWatch>()), client(makeSession(false, watch))
{
}

WebRequest::~WebRequest() = default;

void WebRequest::setStartOffset(std::int64_t offset)
{
    startOffset = offset;
}

void WebRequest::setLowSpeedLimit(const LowSpeedLimit& limit)
{
    watch->setLowSpeedLimit(limit);
}

std::int64_t WebRequest::expectedTotalSize() const
{
    const std::int64_t total = rangeTotal.load();
    if (total >= 0)
        return total;
    return lengthKnown.load() ? startOffset.load() + contentLength.load() : -1;
}

WebRequest& WebRequest::send(const std::string& url)
{
    return sendWithin(url, std::nullopt);
}

WebRequest& WebRequest::sendWithin(const std::string& url,
                                   std::optional<std::chrono::steady_clock::duration> deadline)
{
    requestState = WebRequestState::Pending;
    progressFraction = 0.0;
    bytesRead = 0;
    // A previous body must not be read again if this request fails before its header.
    ok = false;
    responseStatus = 0;
    responseStream = nullptr;
    chunkedBody = false;
    range.reset();
    lengthKnown = false;
    rangeTotal = -1;
    certificateProblem.clear();
    maskedRequestUrl = maskedUrl(url);

    const Poco::URI uri(normaliseUrl(url));
    CLog::getInstance()->log(LogCategory::web, LogDebug,
                             "Request URI: ", maskedUrl(uri.toString()));
    watch->begin(deadline);
    try
    {
        retarget(uri.getHost(), uri.getPort(), uri.getScheme() == "https");
        receiveResponse(requestTarget(uri), uri.getUserInfo());
    }
    catch (const std::exception& error)
    {
        CLog::getInstance()->log(LogCategory::web, LogError, "Error connecting to ",
                                 maskedRequestUrl, ": ", reasonOf(error, *watch));
        ok = false;
        responseStream = nullptr;
        closeConnection();
        requestState = WebRequestState::ConnectionFailed;
    }
    return *this;
}

void WebRequest::retarget(const std::string& host, std::uint16_t port, bool secure)
{
    if (client->secure() == secure && client->getHost() == host && client->getPort() == port)
        return;
    closeConnection();
    // A TLS session is made for one host, whose name its certificate check uses; so each
    // new https target, and each change of transport, gets a fresh session.
    if (secure || client->secure())
        client = makeSession(secure, watch);
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
    // A body is checked and run as it arrives; an encoded one could be neither.
    request.set("Accept-Encoding", "identity");

    client->sendRequest(request);
    Poco::Net::HTTPResponse response;
    std::istream* stream = nullptr;
    try
    {
        stream = &client->receiveResponse(response);
    }
    catch (const Poco::SyntaxException&)
    {
        // The library reads a Content-Length that is not a number as a syntax error.
        if (refuseUnusableHeader(response))
            return;
        throw;
    }
    if (stream->fail())
    {
        ok = false;
        closeConnection();
        requestState = WebRequestState::ConnectionFailed;
        return;
    }
    responseStream = stream;

    if (CLog::getInstance()->isEnabled(LogCategory::web, LogDebug))
    {
        std::ostringstream header;
        response.write(header);
        CLog::getInstance()->log(LogCategory::web, LogDebug, "Response Header: ", header.str());
    }
    const auto status = response.getStatus();
    responseStatus = static_cast<int>(status);
    if (refuseUnusableHeader(response))
        return;
    readLength(response);
    ok = status == Poco::Net::HTTPResponse::HTTP_OK ||
         status == Poco::Net::HTTPResponse::HTTP_PARTIAL_CONTENT;
    if (status == Poco::Net::HTTPResponse::HTTP_PARTIAL_CONTENT)
        readContentRange(response);
    if (status == Poco::Net::HTTPResponse::HTTP_REQUESTED_RANGE_NOT_SATISFIABLE)
        acceptRangeNotSatisfiable(response.get("Content-Range"));
    updateProgress();
}

// A body whose length field is not a byte count, or that is encoded in a way this client
// does not undo, cannot be stored as the resource: Inconsistent, with the field logged.
bool WebRequest::refuseUnusableHeader(const Poco::Net::HTTPResponse& response)
{
    std::string problem;
    for (const std::string& value : fieldValues(response, "Transfer-Encoding"))
        if (!boost::algorithm::iequals(value, "chunked"))
            problem = "Transfer-Encoding: " + value;
    for (const std::string& value : fieldValues(response, "Content-Encoding"))
        if (!value.empty() && !boost::algorithm::iequals(value, "identity"))
            problem = "Content-Encoding: " + value;
    chunkedBody = response.getChunkedTransferEncoding();
    const auto lengths = fieldValues(response, "Content-Length");
    for (const std::string& value : lengths)
        if (!chunkedBody && (!byteCount(value) || value != lengths.front()))
            problem = "Content-Length: " + value;
    if (problem.empty())
        return false;
    CLog::getInstance()->log(LogCategory::web, LogError, "Bad response header: ", problem);
    ok = false;
    responseStream = nullptr;
    closeConnection();
    requestState = WebRequestState::Inconsistent;
    return true;
}

// A chunked body carries no length, whatever Content-Length says (the chunks decide).
void WebRequest::readLength(const Poco::Net::HTTPResponse& response)
{
    const bool known = !chunkedBody && response.hasContentLength();
    contentLength = known ? response.getContentLength64() : -1;
    lengthKnown = known;
}

// Kept only when it is well formed and, when the body's length is known, covers exactly it.
void WebRequest::readContentRange(const Poco::Net::HTTPResponse& response)
{
    const auto values = fieldValues(response, "Content-Range");
    if (values.size() != 1)
        return;
    const auto parsed = parseContentRange(values.front());
    if (!parsed || (lengthKnown && contentLength != parsed->last - parsed->first + 1))
        return;
    range = parsed;
    rangeTotal = parsed->total;
}

// A 416 whose total ("bytes */total") equals the start offset of a ranged request means
// the caller already holds the whole resource.
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
        CLog::getInstance()->log(LogCategory::web, LogError,
                                 "Bad response header: Content-Range: ", contentRange);
        requestState = WebRequestState::Inconsistent;
        return;
    }
    contentLength =
        static_cast<std::int64_t>(total - static_cast<std::uint64_t>(startOffset.load()));
    lengthKnown = true;
    ok = startOffset > 0 && contentLength == 0;
}

bool WebRequest::hasMoreData()
{
    if (responseStream == nullptr)
        return false;
    if (lengthKnown && bytesRead >= contentLength)
    {
        settle(WebRequestState::Complete);
        return false;
    }
    if (responseStream->good())
        return true;
    settle(endOfBody());
    return false;
}

// The stream stopped before a known length was reached, or ended. Only a clean end of a
// body without a length is complete: the connection's end for a plain body, the last
// chunk for a chunked one (a chunked body that ends with the connection was cut).
WebRequestState WebRequest::endOfBody() const
{
    const bool cleanEnd = responseStream->eof() && !responseStream->bad();
    if (cleanEnd && !lengthKnown && !(chunkedBody && watch->peerClosed()))
        return WebRequestState::Complete;
    if (lengthKnown && writtenPosition >= startOffset + contentLength)
        return WebRequestState::Inconsistent;
    return WebRequestState::Interrupted;
}

void WebRequest::settle(WebRequestState outcome)
{
    responseStream = nullptr;
    requestState = outcome;
    if (outcome == WebRequestState::Complete)
        return;
    closeConnection();
    if (!watch->reason().empty())
        CLog::getInstance()->log(LogCategory::web, LogWarning, "Transfer from ", maskedRequestUrl,
                                 " cut: ", watch->reason());
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
    const std::int64_t total = expectedTotalSize();
    progressFraction =
        total > 0 ? static_cast<double>(writtenPosition.load()) / static_cast<double>(total) : 0.0;
}

void WebRequest::closeConnection()
{
    client->reset();
}

bool WebRequest::getJson(const std::string& url, boost::property_tree::ptree& out)
{
    if (!sendWithin(url, jsonDeadline).isOk())
        return false;
    std::string text;
    if (!readJsonBody(text))
        return false;
    try
    {
        readBoundedJson(text, out);
    }
    catch (const boost::property_tree::json_parser_error& error)
    {
        CLog::getInstance()->log(LogCategory::web, LogError,
                                 "Invalid json format Response: ", error.what());
        return false;
    }
    return true;
}

// Reads the body, but never more than one byte beyond the JSON bounds: a larger body is
// abandoned there and left for the bounds check to refuse. False when the body ended
// early.
bool WebRequest::readJsonBody(std::string& text)
{
    const auto limit = static_cast<std::int64_t>(JsonBounds{}.maxBytes);
    if (lengthKnown && contentLength > limit)
    {
        CLog::getInstance()->log(LogCategory::web, LogError,
                                 "Invalid json format Response: ", "response of ",
                                 contentLength.load(), " bytes is larger than ", limit);
        responseStream = nullptr;
        closeConnection();
        return false;
    }
    std::ostringstream body;
    while (bytesRead <= limit && hasMoreData())
        readChunk(body);
    text = body.str();
    if (bytesRead > limit)
    {
        responseStream = nullptr;
        closeConnection();
        return true;
    }
    return requestState == WebRequestState::Complete;
}

} // namespace Veltora::UpdateManager
