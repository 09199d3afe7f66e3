#pragma once

#include <boost/property_tree/ptree.hpp>

#include <array>
#include <atomic>
#include <cstdint>
#include <istream>
#include <memory>
#include <ostream>
#include <string>

namespace Poco::Net
{
class HTTPClientSession;
}

namespace Veltora::UpdateManager
{

// Outcome of the current request. The numbers are fixed: callers store and compare them.
enum class WebRequestState : std::int32_t
{
    Pending = 0,         // set by send; stays while the body is being read
    Complete = 1,        // end of the body (end-of-stream, or Content-Length bytes read)
    Inconsistent = 3,    // stream failed after the expected size, or a 416 with a bad total
    Interrupted = 4,     // stream failed before the expected size was reached
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
// default store, /etc/ssl/certs on Debian) and name the URL's host; otherwise the request
// ends in ConnectionFailed. Verification cannot be turned off. The environment variable
// UPDATER_EXTRA_CA_FILE may name a PEM file of further CAs to trust as well (tests use it
// for their own CA); it is read once, when the process makes its first https request.
//
// Connect, send and receive time out after 10 seconds. Redirects are not followed. Every
// failure closes the connection; the next send connects afresh, so one object can serve
// any number of requests. Driven by one thread at a time; progress(), bytesWritten() and
// expectedTotalSize() may be read from another thread meanwhile.
class WebRequest
{
public:
    static constexpr std::size_t chunkSize = 8192;
    // getJson refuses bodies larger than this, so a hostile answer cannot exhaust memory.
    static constexpr std::int64_t maxJsonSize = 16 * 1024 * 1024;
    // getJson refuses JSON nested deeper than this, so parsing cannot overflow the stack.
    static constexpr int maxJsonDepth = 256;

    WebRequest();
    ~WebRequest();
    WebRequest(const WebRequest&) = delete;
    WebRequest& operator=(const WebRequest&) = delete;

    // First byte to ask for; 0 asks for the whole resource without a Range header.
    void setStartOffset(std::int64_t offset);

    // Performs the request: "http://" is put in front of a URL whose scheme is neither
    // HTTP nor HTTPS, the client is pointed at the URL's host and port, and the response
    // header is read.
    // An unparsable URL throws Poco::SyntaxException; every other failure ends in a state.
    WebRequest& send(const std::string& url);

    // Whether the response is usable: status 200 or 206, or a 416 whose total size equals
    // the start offset (the resource is already complete).
    bool isOk() const { return ok; }

    // True while body bytes remain and the stream is healthy; otherwise settles state().
    bool hasMoreData();

    // Moves at most chunkSize bytes of the body into `out`; returns the count (0 = none).
    std::int64_t readChunk(std::ostream& out);

    WebRequestState state() const { return requestState; }
    // HTTP status of the last response header; 0 when none was received.
    int status() const { return responseStatus; }
    // bytesWritten() / expectedTotalSize(); 0 while the total is unknown.
    double progress() const { return progressFraction.load(); }
    // Put position of the caller's stream after the last chunk.
    std::int64_t bytesWritten() const { return writtenPosition.load(); }
    // Start offset + content length: the full size when the server honoured the range.
    std::int64_t expectedTotalSize() const;

    // Fetches `url` and parses the whole body as JSON into `out`. False when the request
    // was not ok, the body was not read completely, was too large or deep, or is not JSON.
    bool getJson(const std::string& url, boost::property_tree::ptree& out);

private:
    void retarget(const std::string& host, std::uint16_t port, bool secure);
    void receiveResponse(const std::string& target, const std::string& userInfo);
    void acceptRangeNotSatisfiable(const std::string& contentRange);
    void updateProgress();
    void closeConnection();

    std::unique_ptr<Poco::Net::HTTPClientSession> client;
    std::istream* responseStream = nullptr;
    std::array<char, chunkSize> buffer{};
    std::int64_t bytesRead = 0;
    std::atomic<double> progressFraction{0.0};
    std::atomic<std::int64_t> writtenPosition{0};
    WebRequestState requestState = WebRequestState::Pending;
    bool ok = false;
    int responseStatus = 0;
    std::atomic<std::int64_t> contentLength{0};
    std::atomic<std::int64_t> startOffset{0};
};

} // namespace Veltora::UpdateManager
