#pragma once

// A real HTTP/1.1 server on 127.0.0.1 for tests: it answers GET requests from a table of
// routes, can misbehave on purpose (wrong lengths, early close, stalls, any status) and
// records every request it receives so a test can assert what the client sent.
//
//     Veltora::Testing::HttpTestServer server;             // ephemeral port, serving now
//     server.serveJson("/api/x", R"({"total":"1"})");
//     server.serveContent("/file.exe", bytes);             // honours "Range: bytes=N-"
//     HttpReply cut = HttpReply::withStatus(200, bytes);
//     cut.ending = ReplyEnding::CloseAfterBytes;           // header + 100 body bytes, close
//     cut.bytesBeforeEnding = 100;
//     server.reply("/cut.exe", cut);
//     HttpReply slow = HttpReply::withStatus(200, bytes);
//     slow.chunked = true;                                 // Transfer-Encoding: chunked
//     slow.dribbleBytes = 1;                               // one byte every 500 ms
//     slow.dribbleInterval = std::chrono::milliseconds(500);
//     ... client requests server.url("/api/x") ...
//     EXPECT_EQ(server.lastRequest().header("Range"), std::nullopt);
//
// Given a certificate and key (TlsIdentity, see TestCertificates.h), it serves over TLS
// instead, and url() gives "https" addresses; everything else works the same.
//
// Each connection carries one request and is closed after the reply ("Connection: close").
// Handlers run on the connection's own thread. Destroying the server (or stop()) releases
// stalled connections and joins every thread, so a test never hangs on it.

#include <Poco/Net/ServerSocket.h>
#include <boost/filesystem/path.hpp>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace Veltora::Testing
{

// One request as the server received it.
struct RecordedRequest
{
    std::string method;
    std::string target; // as sent, query included: "/a/b?c=d"
    std::string version;
    std::vector<std::pair<std::string, std::string>> headers; // in arrival order

    // The value of the first header field with this name (case-insensitive), if any.
    std::optional<std::string> header(const std::string& name) const;
    // The target without its query.
    std::string path() const;
};

// How the server ends a reply.
enum class ReplyEnding
{
    Complete,          // the whole body, then close
    CloseAfterBytes,   // the header and the first bytesBeforeEnding body bytes, then close
    StallAfterBytes,   // the header and the first bytesBeforeEnding body bytes, then silence
                       // with the connection open until the server stops
    StallBeforeHeader, // nothing at all, connection open until the server stops
    ResetAfterBytes    // the header and the first bytesBeforeEnding body bytes, then a
                       // connection reset (RST) instead of an orderly close
};

// The certificate and private key (PEM files) a TLS server presents.
struct TlsIdentity
{
    boost::filesystem::path certificateFile;
    boost::filesystem::path privateKeyFile;
};

struct HttpReply
{
    int status = 200;
    // Extra header fields, sent as given after the status line (e.g. "Content-Range").
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    // False: no "Content-Length" field; the body then ends when the connection closes.
    bool sendContentLength = true;
    ReplyEnding ending = ReplyEnding::Complete;
    std::size_t bytesBeforeEnding = 0;
    // True: the body goes out in chunks of chunkBytes with "Transfer-Encoding: chunked" and
    // no Content-Length. bytesBeforeEnding still counts body bytes; a reply cut short ends
    // inside a chunk (or after a whole one) and never sends the last, empty chunk.
    bool chunked = false;
    std::size_t chunkBytes = 4096;
    // Nonzero: the body (and the header too when dribbleHeader) is sent dribbleBytes at a
    // time, one piece every dribbleInterval, as a very slow server would.
    std::size_t dribbleBytes = 0;
    std::chrono::milliseconds dribbleInterval{0};
    bool dribbleHeader = false;

    // Part of a file, read from disk while it is sent.
    struct FilePart
    {
        boost::filesystem::path file;
        std::uint64_t offset = 0;
        std::uint64_t length = 0;
    };
    // Set: the body is this part of a file instead of `body` (serveFolder's files, which may
    // be far larger than what a test keeps in memory). It is sent whole and at once; the
    // ending, chunking and dribbling settings apply to `body` only.
    std::optional<FilePart> bodyFile;

    static HttpReply withStatus(int status, std::string body = {});
    static HttpReply json(std::string text, int status = 200);
};

enum class RangeMode
{
    Honour, // "Range: bytes=N-" or "bytes=N-M": 206 with Content-Range, 416 past the end
    Ignore  // always 200 with the whole content
};

class HttpTestServer
{
public:
    using Handler = std::function<HttpReply(const RecordedRequest&)>;

    // Listens on 127.0.0.1:port (0 = an ephemeral port) and serves at once.
    explicit HttpTestServer(std::uint16_t port = 0);
    // The same over TLS with `identity`; throws when its files cannot be used.
    explicit HttpTestServer(const TlsIdentity& identity, std::uint16_t port = 0);
    ~HttpTestServer();
    HttpTestServer(const HttpTestServer&) = delete;
    HttpTestServer& operator=(const HttpTestServer&) = delete;

    std::uint16_t port() const { return listeningPort; }
    // "127.0.0.1:<port>", the form a server option or a bare URL takes.
    std::string hostAndPort() const;
    // "http://127.0.0.1:<port>" + path ("https://..." over TLS).
    std::string url(const std::string& path) const;

    // Routes match the request's path (query ignored) exactly; a later route for the same
    // path replaces the earlier one. Unrouted paths go to the folder (serveFolder), else 404.
    void on(const std::string& path, Handler handler);
    void reply(const std::string& path, HttpReply reply);
    void serveJson(const std::string& path, std::string json);
    void serveContent(const std::string& path, std::string content,
                      RangeMode range = RangeMode::Honour);
    // Serves the files below `folder`, read from disk while they are sent (as contentReply
    // answers for their content); paths with ".." get 404.
    void serveFolder(const boost::filesystem::path& folder, RangeMode range = RangeMode::Honour);
    // Every request without exactly these basic credentials gets 401.
    void requireBasicAuth(const std::string& user, const std::string& password);

    // The reply a file server gives for `content`: with RangeMode::Honour and a
    // "Range: bytes=N-[M]" field, 206 with "Content-Range: bytes N-M/size", or 416 with
    // "Content-Range: bytes */size" when N is at or past the end; otherwise 200 with all.
    static HttpReply contentReply(const std::string& content, const RecordedRequest& request,
                                  RangeMode range);

    std::vector<RecordedRequest> requests() const;
    std::size_t requestCount() const;
    // The most recent request; throws std::logic_error when there was none.
    RecordedRequest lastRequest() const;

    // A loopback port on which nothing listens: connecting to it is refused.
    static std::uint16_t closedPort();

    // Stops accepting, closes stalled connections and joins all threads (idempotent).
    void stop();

private:
    struct Connection;

    HttpTestServer(const Poco::Net::ServerSocket& socket, bool tls);

    void acceptLoop();
    void serveConnection(Poco::Net::StreamSocket& socket);
    bool sendPaced(Poco::Net::StreamSocket& socket, const std::string& data, bool dribble,
                   const HttpReply& reply);
    bool sendFilePart(Poco::Net::StreamSocket& socket, const HttpReply::FilePart& part);
    HttpReply answer(const RecordedRequest& request);
    bool waitUntilStopped(int milliseconds);
    void reapFinishedConnections(bool all);

    Poco::Net::ServerSocket listener;
    std::uint16_t listeningPort = 0;
    bool secure = false;

    mutable std::mutex mutex;
    std::condition_variable stopSignal;
    std::atomic<bool> stopping{false};
    std::map<std::string, Handler> routes;
    std::optional<std::pair<boost::filesystem::path, RangeMode>> folder;
    std::optional<std::string> expectedAuthorization;
    std::vector<RecordedRequest> received;
    std::vector<std::unique_ptr<Connection>> connections;
    std::thread acceptor;
};

} // namespace Veltora::Testing
