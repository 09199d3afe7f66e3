#include "UpdateManager/web/WebRequest.h"

#include "log/CLog.h"

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
#include <boost/property_tree/json_parser.hpp>

#include <cctype>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

namespace Veltora::UpdateManager
{

namespace
{
constexpr const char* category = "web";
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
// and a refused certificate's own problem is added.
std::string reasonOf(const std::exception& error)
{
    const auto* tlsError = dynamic_cast<const Poco::Net::SSLException*>(&error);
    if (tlsError == nullptr)
        return error.what();
    const std::string problem = certificateProblem.empty() ? "" : " (" + certificateProblem + ")";
    return tlsError->displayText() + problem;
}

std::unique_ptr<Poco::Net::HTTPClientSession> makeSession(bool secure)
{
    const Poco::Timespan timeout(timeoutSeconds, 0);
    if (!secure)
    {
        auto session = std::make_unique<Poco::Net::HTTPClientSession>();
        session->setTimeout(timeout);
        return session;
    }
    // The handshake then waits for the first request, when the time-outs are in force;
    // done while connecting, it would wait for a silent server without limit.
    Poco::Net::SecureStreamSocket socket(clientContext());
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

WebRequest::WebRequest() : client(makeSession(false)) {}

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
    responseStatus = 0;
    responseStream = nullptr;
    certificateProblem.clear();

    const Poco::URI uri(normaliseUrl(url));
    CLog::getInstance()->log(category, LogDebug, "Request URI: ", uri.toString());
    try
    {
        retarget(uri.getHost(), uri.getPort(), uri.getScheme() == "https");
        receiveResponse(requestTarget(uri), uri.getUserInfo());
    }
    catch (const std::exception& error)
    {
        CLog::getInstance()->log(category, LogError, "Error connecting to ", url, ": ",
                                 reasonOf(error));
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
        client = makeSession(secure);
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
    responseStatus = static_cast<int>(status);
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
