#pragma once

#include "UpdateManager/web/HeaderValues.h"
#include "UpdateManager/web/LowSpeedLimit.h"
#include "UpdateManager/web/ProxySettings.h"

#include <boost/property_tree/ptree.hpp>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <istream>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

namespace Poco
{
class URI;
namespace Net
{
class HTTPClientSession;
class HTTPResponse;
} // namespace Net
} // namespace Poco

namespace Veltora::UpdateManager
{

class RedirectChain;
class TransferWatch;

// Outcome of the current request. The numbers are fixed: callers store and compare them.
enum class WebRequestState : std::int32_t
{
    Pending = 0,         // set by send; stays while the body is being read
    Complete = 1,        // the whole body arrived, as its framing tells (see hasMoreData)
    Inconsistent = 3,    // the stream failed after the expected size, or the header is unusable
                         // (bad Content-Length, an encoding, a 416 with a bad total)
    Interrupted = 4,     // the body ended early: closed, reset, timed out or too slow
    ConnectionFailed = 5 // connecting, sending or receiving the header failed
};

// One HTTP client performing GET requests one after another, with basic authentication
// from the URL's user information and an optional open-ended byte range. A URL whose
// scheme is "https" (any letter case) is fetched over TLS, on port 443 unless it names
// one; everything else is plain HTTP.
// The body is pulled by the caller in chunks of at most 8192 bytes:
//
//     request.setStartOffset(existingSize);          // optional
//     request.send(url);
//     if (request.isOk())
//         while (request.hasMoreData())
//             request.readChunk(file);
//     request.state();
//
// Over TLS the server's certificate must chain to a CA the system trusts (OpenSSL's
// default store, /etc/ssl/certs on Debian; the ROOT certificate store on Windows) and name
// the URL's host; otherwise the request
// ends in ConnectionFailed. Verification cannot be turned off. The environment variable
// UPDATER_EXTRA_CA_FILE may name a PEM file of further CAs to trust as well (tests use it
// for their own CA); it is read once, when the process makes its first https request.
//
// Every request asks for "Accept-Encoding: identity". An answer whose body is encoded
// (Content-Encoding other than identity, Transfer-Encoding other than chunked) or whose
// Content-Length is not a whole number of bytes is refused as Inconsistent. Bodies of
// unknown length (chunked, or ended by the server closing the connection) are read whole.
//
// Connect, send and receive time out after 10 seconds each. getJson has a deadline of 10
// seconds for the whole request, however slowly the server answers. A low-speed limit
// (setLowSpeedLimit) makes a transfer that receives too little over its window end as
// Interrupted. Every failure closes the connection; the next send connects afresh, so one
// object can serve any number of requests. Driven by one thread at a time; progress(),
// bytesWritten() and expectedTotalSize() may be read from another thread meanwhile. URLs
// in log lines have their user information masked.
//
// Redirects (301, 302, 303, 307, 308) are followed within one send, by the rules of
// RedirectChain: at most five, no loop, never from https to http, credentials only for
// the first URL's own scheme, host and port. The Range and the checks of the answer apply
// to the last one. A redirect that is not followed leaves the request not ok in Pending,
// with status() the redirect's and the reason logged. The deadline and the low-speed
// limit cover the whole chain.
//
// Requests go through the proxies that the environment names when the object is made
// (ProxySettings): plain http as an absolute URL to the proxy, https through a CONNECT
// tunnel, with the certificate checked against the server's own host name, and basic
// proxy credentials from the proxy URL. A proxy that cannot be reached, or that refuses
// (a 407, a failed CONNECT, a 502 or 504 of its own), or whose setting cannot be used,
// ends the request in ConnectionFailed, as an unreachable server does.
class WebRequest
{
public:
    static constexpr std::size_t chunkSize = 8192;
    // getJson gives up on a request that has not ended this long after it began.
    static constexpr std::chrono::seconds jsonDeadline{10};

    // With the proxies the environment names now.
    WebRequest();
    explicit WebRequest(ProxySettings proxySettings);
    ~WebRequest();
    WebRequest(const WebRequest&) = delete;
    WebRequest& operator=(const WebRequest&) = delete;

    // First byte to ask for; 0 asks for the whole resource without a Range header.
    void setStartOffset(std::int64_t offset);

    // Applies to every later request: receiving fewer bytes than the limit over its window
    // (the header included) ends the request as a cut one. None by default.
    void setLowSpeedLimit(const LowSpeedLimit& limit);

    // Performs the request: "http://" is put in front of a URL whose scheme is neither
    // HTTP nor HTTPS, the client is pointed at the URL's host and port, and the response
    // header is read.
    // An unparsable URL throws Poco::SyntaxException; every other failure ends in a state.
    WebRequest& send(const std::string& url);

    // Whether the response is usable: status 200 or 206 with a plain body of a valid
    // length, or a 416 to a ranged request whose total size equals the start offset (the
    // resource is already complete).
    bool isOk() const { return ok; }

    // True while body bytes remain and the stream is healthy; otherwise settles state():
    // Complete when the body ended as its framing says (Content-Length bytes, the last
    // chunk of a chunked body, or the connection's end when no length was given),
    // Interrupted when it ended before (closed, reset, timed out, too slow).
    bool hasMoreData();

    // Moves at most chunkSize bytes of the body into `out`; returns the count (0 = none).
    std::int64_t readChunk(std::ostream& out);

    WebRequestState state() const { return requestState; }
    // Why the last request failed, as one plain sentence that names the address with its
    // credentials masked ("cannot reach https://host:443: certificate not trusted (...)",
    // "http://host:80/a answered 404 Not Found"); empty while nothing went wrong.
    const std::string& failure() const { return problem; }
    // HTTP status of the last response header; 0 when none was received.
    int status() const { return responseStatus; }
    // bytesWritten() / expectedTotalSize(); 0 while the total is unknown.
    double progress() const { return progressFraction.load(); }
    // Put position of the caller's stream after the last chunk.
    std::int64_t bytesWritten() const { return writtenPosition.load(); }
    // The full size of the resource as the answer states it: the total of a 206's
    // Content-Range when it gives one, otherwise start offset + content length; -1 when
    // the answer gives no length.
    std::int64_t expectedTotalSize() const;
    // The Content-Range of a 206 answer when it is well formed and agrees with the
    // answer's length; nothing otherwise.
    std::optional<ContentRange> contentRange() const { return range; }

    // Fetches `url` within jsonDeadline and parses the whole body as JSON into `out`,
    // within the JSON bounds (BoundedJson.h). False when the request was not ok, the body
    // was not read completely, or is out of bounds or not JSON.
    bool getJson(const std::string& url, boost::property_tree::ptree& out);

private:
    WebRequest& sendWithin(const std::string& url,
                           std::optional<std::chrono::steady_clock::duration> deadline);
    void resetAnswer();
    bool followRedirect(RedirectChain& chain, Poco::URI& current);
    void sendOnce(const Poco::URI& uri, const std::string& userInfo);
    std::string openRoute(const Poco::URI& uri);
    std::unique_ptr<Poco::Net::HTTPClientSession> openTunnel(const Poco::URI& uri,
                                                             const Proxy& proxy);
    void receiveResponse(const Poco::URI& uri, const std::string& target,
                         const std::string& userInfo);
    void refuseProxyAnswer(const Poco::Net::HTTPResponse& response) const;
    bool refuseUnusableHeader(const Poco::Net::HTTPResponse& response);
    void readLength(const Poco::Net::HTTPResponse& response);
    void readContentRange(const Poco::Net::HTTPResponse& response);
    void acceptRangeNotSatisfiable(const std::string& contentRange);
    WebRequestState endOfBody() const;
    void settle(WebRequestState outcome);
    bool readJsonBody(std::string& text);
    void updateProgress();
    void closeConnection();
    void noteProblem(const std::string& text);

    ProxySettings proxies;
    // The proxy of the current request; nothing when it goes directly.
    std::optional<Proxy> proxy;
    std::shared_ptr<TransferWatch> watch;
    std::unique_ptr<Poco::Net::HTTPClientSession> client;
    std::istream* responseStream = nullptr;
    std::array<char, chunkSize> buffer{};
    std::int64_t bytesRead = 0;
    std::atomic<double> progressFraction{0.0};
    std::atomic<std::int64_t> writtenPosition{0};
    WebRequestState requestState = WebRequestState::Pending;
    bool ok = false;
    int responseStatus = 0;
    bool chunkedBody = false;
    std::optional<ContentRange> range;
    // The Location of a redirect answer, to be followed by send.
    std::optional<std::string> redirectLocation;
    std::string maskedRequestUrl;
    std::string maskedOrigin;
    std::string problem;
    std::atomic<std::int64_t> contentLength{0};
    std::atomic<bool> lengthKnown{false};
    std::atomic<std::int64_t> rangeTotal{-1};
    std::atomic<std::int64_t> startOffset{0};
};

} // namespace Veltora::UpdateManager
