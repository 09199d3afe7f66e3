#include "UpdateManager/web/WebRequest.h"

#include "UpdateManager/core/BoundedJson.h"
#include "UpdateManager/core/MaskedUrl.h"
#include "UpdateManager/web/RedirectChain.h"
#include "UpdateManager/web/TransferWatch.h"
#include "UpdateManager/web/WatchedSocketImpl.h"
#include "log/CLog.h"
#include "log/LogCategory.h"
#include "platform/Platform.h"

#include <Poco/Crypto/X509Certificate.h>
#include <Poco/Exception.h>
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
#include <openssl/err.h>
#include <openssl/x509.h>

#include <cctype>
#include <cstdlib>
#include <exception>
#include <sstream>
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

// The certificate whose DER bytes are `der`; throws when OpenSSL cannot read them.
Poco::Crypto::X509Certificate certificateOf(const std::string& der)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(der.data());
    X509* certificate = d2i_X509(nullptr, &bytes, static_cast<long>(der.size()));
    if (certificate == nullptr)
    {
        ERR_clear_error();
        throw Poco::DataFormatException("not a certificate OpenSSL can read");
    }
    return Poco::Crypto::X509Certificate(certificate);
}

// Where OpenSSL does not read the system's trusted CAs itself (Windows, whose OpenSSL knows
// only a folder of its own), they are added from the system's store. A certificate the
// library cannot read is left out; the others still count.
void trustSystemRootStore(Poco::Net::Context& context)
{
    const std::vector<std::string> certificates = Platform::trustedRootCertificates();
    std::size_t trusted = 0;
    for (const std::string& der : certificates)
    {
        try
        {
            context.addCertificateAuthority(certificateOf(der));
            ++trusted;
        }
        catch (const Poco::Exception& error)
        {
            CLog::getInstance()->log(LogCategory::web, LogWarning,
                                     "A CA of the system store is left out: ", error.displayText());
        }
    }
    if (!certificates.empty())
        CLog::getInstance()->log(LogCategory::web, LogDebug, "Trusting ", trusted,
                                 " CAs of the system's certificate store");
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
    trustSystemRootStore(*context);
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

// The same reason for a person reading one line: a refused certificate is named as such.
std::string plainReasonOf(const std::exception& error, const TransferWatch& watch)
{
    if (!watch.reason().empty())
        return watch.reason();
    if (!certificateProblem.empty())
        return "certificate not trusted (" + certificateProblem + ")";
    if (const auto* libraryError = dynamic_cast<const Poco::Exception*>(&error))
        return libraryError->displayText();
    return error.what();
}

// Scheme, masked user information, host and port: what a failed connection was aimed at.
std::string originOf(const Poco::URI& uri)
{
    const std::string userInfo = uri.getUserInfo().empty() ? "" : uri.getUserInfo() + "@";
    return maskedUrl(uri.getScheme() + "://" + userInfo + uri.getHost() + ":" +
                     std::to_string(uri.getPort()));
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

// An HTTP session over a TLS connection that is already open, through a proxy's tunnel.
// The library's https session cannot take a connected socket, so this one reads the
// end of the connection as its https session does: a close without TLS's own closing
// message ends the body like any close, and the length checks judge what arrived.
class TunnelledTlsSession : public Poco::Net::HTTPClientSession
{
public:
    explicit TunnelledTlsSession(const Poco::Net::SecureStreamSocket& socket)
        : HTTPClientSession(socket)
    {
    }

    bool secure() const override { return true; }

protected:
    int read(char* buffer, std::streamsize length) override
    {
        try
        {
            return HTTPClientSession::read(buffer, length);
        }
        catch (const Poco::Net::SSLConnectionUnexpectedlyClosedException&)
        {
            return 0;
        }
    }
};

// Path and query, percent-encoded by the URI class; the fragment is not sent.
std::string requestTarget(const Poco::URI& uri)
{
    const std::string target = uri.getPathAndQuery();
    return target.empty() ? "/" : target;
}

// The whole URL, without user information and fragment, as a proxy is asked for it.
std::string absoluteTarget(const Poco::URI& uri)
{
    Poco::URI target(uri.getScheme(), uri.getAuthority(), requestTarget(uri));
    target.setUserInfo("");
    return target.toString();
}

// "host:port" or "[v6]:port", as a CONNECT names its target; for a Host field the
// scheme's own port is left out.
std::string hostHeader(const Poco::URI& uri, bool alwaysWithPort)
{
    const std::string& host = uri.getHost();
    const std::string name = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    const std::uint16_t schemePort = uri.getScheme() == "https" ? 443 : 80;
    return alwaysWithPort || uri.getPort() != schemePort
               ? name + ":" + std::to_string(uri.getPort())
               : name;
}

// A redirect's Location may carry user information like any address; it is shown masked.
void logHeader(const Poco::Net::HTTPResponse& response)
{
    Poco::Net::HTTPResponse shown(response.getVersion(), response.getStatus(),
                                  response.getReason());
    for (const auto& [field, value] : response)
        shown.add(field, boost::algorithm::iequals(field, "Location") ? maskedUrl(value) : value);
    std::ostringstream header;
    shown.write(header);
    CLog::getInstance()->log(LogCategory::web, LogDebug, "Response Header: ", header.str());
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
} // namespace

WebRequest::WebRequest() : WebRequest(ProxySettings::fromEnvironment()) {}

WebRequest::WebRequest(ProxySettings proxySettings)
    : proxies(std::move(proxySettings)), watch(std::make_shared<TransferWatch>()),
      client(makeSession(false, watch))
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
    resetAnswer();
    maskedRequestUrl = maskedUrl(url);

    Poco::URI current(normaliseUrl(url));
    RedirectChain chain(current);
    watch->begin(deadline);
    sendOnce(current, chain.credentialsFor(current));
    while (redirectLocation && followRedirect(chain, current))
        sendOnce(current, chain.credentialsFor(current));
    return *this;
}

// A previous body must not be read again if this request fails before its header.
void WebRequest::resetAnswer()
{
    progressFraction = 0.0;
    bytesRead = 0;
    ok = false;
    responseStatus = 0;
    responseStream = nullptr;
    chunkedBody = false;
    range.reset();
    redirectLocation.reset();
    lengthKnown = false;
    rangeTotal = -1;
    certificateProblem.clear();
    problem.clear();
}

// Moves `current` to where the redirect answer leads; false, with the reason logged, when
// it is not followed (the answer then stays as it is: not ok, Pending).
bool WebRequest::followRedirect(RedirectChain& chain, Poco::URI& current)
{
    const RedirectChain::Hop hop = chain.follow(current, *redirectLocation);
    if (!hop.next)
    {
        CLog::getInstance()->log(LogCategory::web, LogError, "Redirect (", responseStatus,
                                 ") from ", maskedRequestUrl, " not followed: ", hop.refusal);
        responseStream = nullptr;
        redirectLocation.reset();
        closeConnection();
        return false;
    }
    CLog::getInstance()->log(LogCategory::web, LogInfo, "Redirect (", responseStatus, ") from ",
                             maskedRequestUrl, " to ", hop.next->toString());
    closeConnection();
    resetAnswer();
    current = *hop.next;
    maskedRequestUrl = maskedUrl(current.toString());
    return true;
}

// One request of a chain, to `uri`, with basic authentication from `userInfo` if any.
void WebRequest::sendOnce(const Poco::URI& uri, const std::string& userInfo)
{
    CLog::getInstance()->log(LogCategory::web, LogDebug,
                             "Request URI: ", maskedUrl(uri.toString()));
    proxy.reset();
    maskedOrigin = originOf(uri);
    try
    {
        const std::string target = openRoute(uri);
        receiveResponse(uri, target, userInfo);
    }
    catch (const std::exception& error)
    {
        const std::string through =
            proxy ? " (through the proxy " + maskedUrl(proxy->url) + ")" : std::string();
        CLog::getInstance()->log(LogCategory::web, LogError, "Error connecting to ",
                                 maskedRequestUrl, through, ": ", reasonOf(error, *watch));
        noteProblem("cannot reach " + maskedOrigin + ": " + plainReasonOf(error, *watch));
        ok = false;
        responseStream = nullptr;
        redirectLocation.reset();
        closeConnection();
        requestState = WebRequestState::ConnectionFailed;
    }
}

// Points a fresh session at the first stop of the request (the server, or its proxy) and
// returns the request target to send there: the path and query, or for plain http through
// a proxy the absolute URL. A TLS session is made for one host, whose name its
// certificate check uses, so every request gets its own session.
std::string WebRequest::openRoute(const Poco::URI& uri)
{
    closeConnection();
    const bool secure = uri.getScheme() == "https";
    proxy = proxies.proxyFor(uri.getScheme(), uri.getHost(), uri.getPort());
    if (proxy && !proxy->problem.empty())
        throw std::runtime_error("the proxy setting " + proxy->variable + "=" +
                                 maskedUrl(proxy->url) + " cannot be used: " + proxy->problem);
    if (proxy && secure)
    {
        client = openTunnel(uri, *proxy);
        return requestTarget(uri);
    }
    client = makeSession(secure, watch);
    client->setHost(proxy ? proxy->host : uri.getHost());
    client->setPort(proxy ? proxy->port : uri.getPort());
    return proxy ? absoluteTarget(uri) : requestTarget(uri);
}

// Asks the proxy for a tunnel to the server ("CONNECT host:port") and starts TLS through
// it, all on watched sockets, so the deadline and the low-speed limit hold for the proxy
// too.
std::unique_ptr<Poco::Net::HTTPClientSession> WebRequest::openTunnel(const Poco::URI& uri,
                                                                     const Proxy& through)
{
    Poco::Net::HTTPClientSession proxySession(watchedSocket(watch));
    proxySession.setHost(through.host);
    proxySession.setPort(through.port);
    proxySession.setTimeout(Poco::Timespan(timeoutSeconds, 0));
    // The session must leave the connection open after the answer: it is the tunnel.
    proxySession.setKeepAlive(true);

    const std::string authority = hostHeader(uri, true);
    Poco::Net::HTTPRequest connect(Poco::Net::HTTPRequest::HTTP_CONNECT, authority,
                                   Poco::Net::HTTPMessage::HTTP_1_1);
    connect.set("Host", authority);
    if (!through.user.empty())
        Poco::Net::HTTPBasicCredentials(through.user, through.password).proxyAuthenticate(connect);
    proxySession.sendRequest(connect);
    Poco::Net::HTTPResponse answer;
    proxySession.receiveResponse(answer);
    if (answer.getStatus() != Poco::Net::HTTPResponse::HTTP_OK)
        throw std::runtime_error("the proxy refused the tunnel to " + authority + ": " +
                                 std::to_string(answer.getStatus()) + " " + answer.getReason());

    const Poco::Timespan halfTimeout(Poco::Timespan(timeoutSeconds, 0).totalMicroseconds() / 2);
    const Poco::Net::SecureStreamSocket socket = watchedSecureSocketOver(
        proxySession.detachSocket(), uri.getHost(), halfTimeout, watch, clientContext());
    return std::make_unique<TunnelledTlsSession>(socket);
}

void WebRequest::receiveResponse(const Poco::URI& uri, const std::string& target,
                                 const std::string& userInfo)
{
    Poco::Net::HTTPRequest request(Poco::Net::HTTPRequest::HTTP_GET, target,
                                   Poco::Net::HTTPMessage::HTTP_1_1);
    request.setHost(hostHeader(uri, false));
    if (!userInfo.empty())
        addCredentials(request, userInfo);
    if (proxy && !proxy->user.empty() && uri.getScheme() != "https")
        Poco::Net::HTTPBasicCredentials(proxy->user, proxy->password).proxyAuthenticate(request);
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
        noteProblem("cannot reach " + maskedOrigin + ": the connection ended without an answer");
        ok = false;
        closeConnection();
        requestState = WebRequestState::ConnectionFailed;
        return;
    }
    responseStream = stream;

    if (CLog::getInstance()->isEnabled(LogCategory::web, LogDebug))
        logHeader(response);
    const auto status = response.getStatus();
    responseStatus = static_cast<int>(status);
    refuseProxyAnswer(response);
    if (RedirectChain::isRedirect(responseStatus))
    {
        // Its body is never read; the connection is closed before the next request.
        redirectLocation = response.get("Location", "");
        return;
    }
    if (refuseUnusableHeader(response))
        return;
    readLength(response);
    ok = status == Poco::Net::HTTPResponse::HTTP_OK ||
         status == Poco::Net::HTTPResponse::HTTP_PARTIAL_CONTENT;
    if (status == Poco::Net::HTTPResponse::HTTP_PARTIAL_CONTENT)
        readContentRange(response);
    if (status == Poco::Net::HTTPResponse::HTTP_REQUESTED_RANGE_NOT_SATISFIABLE)
        acceptRangeNotSatisfiable(response.get("Content-Range"));
    if (!ok)
        noteProblem(maskedRequestUrl + " answered " + std::to_string(responseStatus) + " " +
                    response.getReason());
    updateProgress();
}

// Through a proxy, plain http answers may be the proxy's own: a 407 (it wants other
// credentials) or a 502 or 504 (it could not reach the server). They mean the same as a
// server that cannot be reached, and are thrown as such.
void WebRequest::refuseProxyAnswer(const Poco::Net::HTTPResponse& response) const
{
    const auto status = response.getStatus();
    if (!proxy || client->secure() ||
        (status != Poco::Net::HTTPResponse::HTTP_PROXY_AUTHENTICATION_REQUIRED &&
         status != Poco::Net::HTTPResponse::HTTP_BAD_GATEWAY &&
         status != Poco::Net::HTTPResponse::HTTP_GATEWAY_TIMEOUT))
        return;
    throw std::runtime_error("the proxy answered " + std::to_string(status) + " " +
                             response.getReason());
}

// A body whose length field is not a byte count, or that is encoded in a way this client
// does not undo, cannot be stored as the resource: Inconsistent, with the field logged.
bool WebRequest::refuseUnusableHeader(const Poco::Net::HTTPResponse& response)
{
    std::string unusable;
    for (const std::string& value : fieldValues(response, "Transfer-Encoding"))
        if (!boost::algorithm::iequals(value, "chunked"))
            unusable = "Transfer-Encoding: " + value;
    for (const std::string& value : fieldValues(response, "Content-Encoding"))
        if (!value.empty() && !boost::algorithm::iequals(value, "identity"))
            unusable = "Content-Encoding: " + value;
    chunkedBody = response.getChunkedTransferEncoding();
    const auto lengths = fieldValues(response, "Content-Length");
    for (const std::string& value : lengths)
        if (!chunkedBody && (!byteCount(value) || value != lengths.front()))
            unusable = "Content-Length: " + value;
    if (unusable.empty())
        return false;
    CLog::getInstance()->log(LogCategory::web, LogError, "Bad response header: ", unusable);
    noteProblem(maskedRequestUrl + " gave an answer that cannot be used (" + unusable + ")");
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
    const UnsatisfiableRange unsatisfiable = parseUnsatisfiableRange(contentRange);
    if (!unsatisfiable.hasTotal)
        return;
    if (!unsatisfiable.total)
    {
        CLog::getInstance()->log(LogCategory::web, LogError,
                                 "Bad response header: Content-Range: ", contentRange);
        noteProblem(maskedRequestUrl +
                    " gave an answer that cannot be used (Content-Range: " + contentRange + ")");
        requestState = WebRequestState::Inconsistent;
        return;
    }
    contentLength = static_cast<std::int64_t>(*unsatisfiable.total -
                                              static_cast<std::uint64_t>(startOffset.load()));
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
    if (outcome == WebRequestState::Inconsistent)
        noteProblem(maskedRequestUrl + " sent more than its answer announced");
    else
        noteProblem("the answer from " + maskedRequestUrl + " ended early" +
                    (watch->reason().empty() ? "" : ": " + watch->reason()));
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

// The first problem of a request is its cause; what follows from it adds nothing.
void WebRequest::noteProblem(const std::string& text)
{
    if (problem.empty())
        problem = text;
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
        noteProblem(maskedRequestUrl + " answered with text that is not usable JSON (" +
                    error.message() + ")");
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
        noteProblem("the answer from " + maskedRequestUrl + " is larger than " +
                    std::to_string(limit) + " bytes");
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
