#include "tests/support/HttpTestServer.h"

#include "tests/support/ConnectionSignals.h"
#include "tools/loopback_server/ContentPart.h"

#include <Poco/Base64Encoder.h>
#include <Poco/Exception.h>
#include <Poco/Net/Context.h>
#include <Poco/Net/HTTPResponse.h>
#include <Poco/Net/NetSSL.h>
#include <Poco/Net/SecureServerSocket.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/Net/SocketDefs.h>
#include <Poco/Net/StreamSocket.h>
#include <boost/algorithm/string/predicate.hpp>
#include <boost/filesystem/fstream.hpp>
#include <boost/filesystem/operations.hpp>

#include <algorithm>
#include <chrono>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace Veltora::Testing
{

namespace
{
constexpr std::size_t maxHeaderSize = 64 * 1024;
constexpr int pollMilliseconds = 50;
constexpr auto requestDeadline = std::chrono::seconds(30);

Poco::Timespan pollInterval()
{
    return Poco::Timespan(0, pollMilliseconds * 1000);
}

Poco::Net::SocketAddress loopback(std::uint16_t port)
{
    return Poco::Net::SocketAddress("127.0.0.1", port);
}

Poco::Net::ServerSocket listenSecurely(const TlsIdentity& identity, std::uint16_t port)
{
    static const bool sslInitialised = (Poco::Net::initializeSSL(), true);
    (void)sslInitialised;
    auto context = Poco::makeAuto<Poco::Net::Context>(
        Poco::Net::Context::TLS_SERVER_USE, identity.privateKeyFile.string(),
        identity.certificateFile.string(), "", Poco::Net::Context::VERIFY_NONE);
    return Poco::Net::SecureServerSocket(loopback(port), 64, context);
}

std::string trim(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

// Parses the request line and header fields; false for anything that is not HTTP.
bool parseRequest(const std::string& head, RecordedRequest& request)
{
    std::istringstream lines(head);
    std::string line;
    if (!std::getline(lines, line))
        return false;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    std::istringstream requestLine(line);
    if (!(requestLine >> request.method >> request.target >> request.version))
        return false;
    while (std::getline(lines, line))
    {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            break;
        const auto colon = line.find(':');
        if (colon == std::string::npos)
            return false;
        request.headers.emplace_back(trim(line.substr(0, colon)), trim(line.substr(colon + 1)));
    }
    return true;
}

std::string base64(const std::string& text)
{
    std::ostringstream encoded;
    Poco::Base64Encoder encoder(encoded);
    encoder.rdbuf()->setLineLength(0);
    encoder << text;
    encoder.close();
    return encoded.str();
}

std::string serializeHead(const HttpReply& reply)
{
    std::ostringstream head;
    head << "HTTP/1.1 " << reply.status << ' '
         << Poco::Net::HTTPResponse::getReasonForStatus(
                static_cast<Poco::Net::HTTPResponse::HTTPStatus>(reply.status))
         << "\r\n";
    for (const auto& [name, value] : reply.headers)
        head << name << ": " << value << "\r\n";
    if (reply.chunked)
        head << "Transfer-Encoding: chunked\r\n";
    else if (reply.sendContentLength)
        head << "Content-Length: " << (reply.bodyFile ? reply.bodyFile->length : reply.body.size())
             << "\r\n";
    head << "Connection: close\r\n\r\n";
    return head.str();
}

// The body in chunks of `chunkBytes`, ended by the last, empty chunk; or, when cut at
// `cutAt` body bytes, only up to there (inside a chunk, or after a chunk-size line).
std::string chunkedWire(const std::string& body, std::size_t chunkBytes,
                        std::optional<std::size_t> cutAt)
{
    std::string wire;
    for (std::size_t offset = 0; offset < body.size(); offset += chunkBytes)
    {
        const std::size_t size = std::min(chunkBytes, body.size() - offset);
        std::ostringstream sizeLine;
        sizeLine << std::hex << size << "\r\n";
        wire += sizeLine.str();
        if (cutAt && offset + size > *cutAt)
            return wire.append(body, offset, *cutAt - offset);
        wire.append(body, offset, size).append("\r\n");
    }
    return cutAt ? wire : wire + "0\r\n\r\n";
}

// The body bytes as they go on the wire, up to where the reply's ending cuts them.
std::string wireBody(const HttpReply& reply)
{
    const bool cut = reply.ending != ReplyEnding::Complete;
    if (reply.chunked)
        return chunkedWire(reply.body, std::max<std::size_t>(reply.chunkBytes, 1),
                           cut ? std::optional<std::size_t>(reply.bytesBeforeEnding)
                               : std::nullopt);
    return cut ? reply.body.substr(0, std::min(reply.bytesBeforeEnding, reply.body.size()))
               : reply.body;
}

using LoopbackServer::ContentPart;

// The part of a `size`-byte content that a file server sends for the request.
ContentPart partFor(std::uint64_t size, const RecordedRequest& request, RangeMode range)
{
    return ContentPart::of(size,
                           range == RangeMode::Honour ? request.header("Range") : std::nullopt);
}

HttpReply replyWithoutBody(const ContentPart& part)
{
    HttpReply reply = HttpReply::withStatus(part.status);
    if (part.contentRange)
        reply.headers.emplace_back("Content-Range", *part.contentRange);
    return reply;
}
} // namespace

std::optional<std::string> RecordedRequest::header(const std::string& name) const
{
    for (const auto& [field, value] : headers)
        if (boost::iequals(field, name))
            return value;
    return std::nullopt;
}

std::string RecordedRequest::path() const
{
    return target.substr(0, target.find('?'));
}

HttpReply HttpReply::withStatus(int status, std::string body)
{
    HttpReply reply;
    reply.status = status;
    reply.body = std::move(body);
    return reply;
}

HttpReply HttpReply::json(std::string text, int status)
{
    HttpReply reply = withStatus(status, std::move(text));
    reply.headers.emplace_back("Content-Type", "application/json");
    return reply;
}

// The socket belongs to the connection alone: only its thread uses it, and it is closed
// at the latest when the joined connection is destroyed.
struct HttpTestServer::Connection
{
    Poco::Net::StreamSocket socket;
    std::thread thread;
    std::atomic<bool> finished{false};
};

HttpTestServer::HttpTestServer(std::uint16_t port)
    : HttpTestServer(Poco::Net::ServerSocket(loopback(port), 64), false)
{
}

HttpTestServer::HttpTestServer(const TlsIdentity& identity, std::uint16_t port)
    : HttpTestServer(listenSecurely(identity, port), true)
{
}

HttpTestServer::HttpTestServer(const Poco::Net::ServerSocket& socket, bool tls)
    : listener(socket), listeningPort(listener.address().port()), secure(tls)
{
    acceptor = std::thread([this] { acceptLoop(); });
}

HttpTestServer::~HttpTestServer()
{
    stop();
}

std::string HttpTestServer::hostAndPort() const
{
    return "127.0.0.1:" + std::to_string(listeningPort);
}

std::string HttpTestServer::url(const std::string& path) const
{
    return (secure ? "https://" : "http://") + hostAndPort() + path;
}

void HttpTestServer::on(const std::string& path, Handler handler)
{
    std::lock_guard<std::mutex> lock(mutex);
    routes[path] = std::move(handler);
}

void HttpTestServer::reply(const std::string& path, HttpReply reply)
{
    on(path, [reply](const RecordedRequest&) { return reply; });
}

void HttpTestServer::serveJson(const std::string& path, std::string json)
{
    reply(path, HttpReply::json(std::move(json)));
}

void HttpTestServer::serveContent(const std::string& path, std::string content, RangeMode range)
{
    on(path, [content = std::move(content), range](const RecordedRequest& request)
       { return contentReply(content, request, range); });
}

void HttpTestServer::serveFolder(const boost::filesystem::path& root, RangeMode range)
{
    std::lock_guard<std::mutex> lock(mutex);
    folder.emplace(root, range);
}

void HttpTestServer::requireBasicAuth(const std::string& user, const std::string& password)
{
    std::lock_guard<std::mutex> lock(mutex);
    expectedAuthorization = "Basic " + base64(user + ":" + password);
}

HttpReply HttpTestServer::contentReply(const std::string& content, const RecordedRequest& request,
                                       RangeMode range)
{
    const ContentPart part = partFor(content.size(), request, range);
    HttpReply reply = replyWithoutBody(part);
    reply.body = content.substr(part.first, part.length);
    return reply;
}

std::vector<RecordedRequest> HttpTestServer::requests() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return received;
}

std::size_t HttpTestServer::requestCount() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return received.size();
}

RecordedRequest HttpTestServer::lastRequest() const
{
    std::lock_guard<std::mutex> lock(mutex);
    if (received.empty())
        throw std::logic_error("the test server has received no request");
    return received.back();
}

std::uint16_t HttpTestServer::closedPort()
{
    Poco::Net::ServerSocket probe(Poco::Net::SocketAddress("127.0.0.1", 0));
    const std::uint16_t port = probe.address().port();
    probe.close();
    return port;
}

void HttpTestServer::stop()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    stopSignal.notify_all();
    if (acceptor.joinable())
        acceptor.join();
    reapFinishedConnections(true);
    listener.close();
}

void HttpTestServer::acceptLoop()
{
    while (!stopping)
    {
        reapFinishedConnections(false);
        try
        {
            if (!listener.poll(pollInterval(), Poco::Net::Socket::SELECT_READ))
                continue;
            auto connection = std::make_unique<Connection>();
            connection->socket = listener.acceptConnection();
            if (secure)
            {
                // The handshake and every TLS read and write then wait at most this long,
                // so the loops below keep watching for the server's stop.
                connection->socket.setReceiveTimeout(pollInterval());
                connection->socket.setSendTimeout(pollInterval());
            }
            Connection* raw = connection.get();
            raw->thread = std::thread(
                [this, raw]
                {
                    if (secure)
                        blockBrokenPipeSignalInThisThread();
                    serveConnection(raw->socket);
                    raw->finished = true;
                });
            std::lock_guard<std::mutex> lock(mutex);
            connections.push_back(std::move(connection));
        }
        catch (const Poco::Exception&)
        {
            // A connection that failed while being accepted is simply dropped.
        }
    }
}

void HttpTestServer::reapFinishedConnections(bool all)
{
    std::vector<std::unique_ptr<Connection>> done;
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (auto it = connections.begin(); it != connections.end();)
        {
            if (all || (*it)->finished)
            {
                done.push_back(std::move(*it));
                it = connections.erase(it);
            }
            else
                ++it;
        }
    }
    for (auto& connection : done)
        connection->thread.join();
}

bool HttpTestServer::waitUntilStopped(int milliseconds)
{
    std::unique_lock<std::mutex> lock(mutex);
    return stopSignal.wait_for(lock, std::chrono::milliseconds(milliseconds),
                               [this] { return stopping.load(); });
}

HttpReply HttpTestServer::answer(const RecordedRequest& request)
{
    Handler handler;
    {
        std::lock_guard<std::mutex> lock(mutex);
        received.push_back(request);
        if (expectedAuthorization && request.header("Authorization") != expectedAuthorization)
        {
            HttpReply refused = HttpReply::withStatus(401, "authorization required");
            refused.headers.emplace_back("WWW-Authenticate", "Basic realm=\"test\"");
            return refused;
        }
        const auto route = routes.find(request.path());
        if (route != routes.end())
            handler = route->second;
        else if (folder)
        {
            const auto [root, range] = *folder;
            handler = [root, range](const RecordedRequest& asked)
            {
                const std::string relative = asked.path();
                const auto file = root / relative;
                if (relative.find("..") != std::string::npos ||
                    !boost::filesystem::is_regular_file(file))
                    return HttpReply::withStatus(404, "not found");
                const ContentPart part = partFor(boost::filesystem::file_size(file), asked, range);
                HttpReply reply = replyWithoutBody(part);
                if (part.length > 0)
                    reply.bodyFile = HttpReply::FilePart{file, part.first, part.length};
                return reply;
            };
        }
    }
    if (!handler)
        return HttpReply::withStatus(404, "not found");
    return handler(request);
}

namespace
{
// Sends all of `data` unless the peer goes away or the server stops. The send flags keep a
// client that hung up from killing the test process with SIGPIPE.
bool sendAll(Poco::Net::StreamSocket& socket, const char* data, std::size_t size,
             const std::atomic<bool>& stopping)
{
    std::size_t sent = 0;
    while (sent < size && !stopping)
    {
        try
        {
            if (!socket.poll(pollInterval(), Poco::Net::Socket::SELECT_WRITE))
                continue;
            const int chunk = static_cast<int>(std::min<std::size_t>(size - sent, 64 * 1024));
            const int count = socket.sendBytes(data + sent, chunk, noBrokenPipeSignalSendFlags());
            if (count <= 0)
                return false;
            sent += static_cast<std::size_t>(count);
        }
        catch (const Poco::TimeoutException&)
        {
        }
        catch (const Poco::Exception&)
        {
            return false;
        }
    }
    return sent == size;
}

// Reads up to the blank line that ends the request header; false when the client went
// away, sent too much, took too long or the server stops.
bool receiveHead(Poco::Net::StreamSocket& socket, std::string& head,
                 const std::atomic<bool>& stopping)
{
    const auto deadline = std::chrono::steady_clock::now() + requestDeadline;
    char chunk[4096];
    while (head.find("\r\n\r\n") == std::string::npos)
    {
        if (stopping || head.size() > maxHeaderSize || std::chrono::steady_clock::now() > deadline)
            return false;
        try
        {
            // Bytes that TLS has already taken off the socket do not make it readable.
            if (socket.available() == 0 &&
                !socket.poll(pollInterval(), Poco::Net::Socket::SELECT_READ))
                continue;
            const int count = socket.receiveBytes(chunk, sizeof(chunk));
            if (count <= 0)
                return false;
            head.append(chunk, static_cast<std::size_t>(count));
        }
        catch (const Poco::TimeoutException&)
        {
            // A TLS handshake or record still on its way.
        }
        catch (const Poco::Exception&)
        {
            return false;
        }
    }
    return true;
}
} // namespace

void HttpTestServer::serveConnection(Poco::Net::StreamSocket& socket)
{
    std::string head;
    if (!receiveHead(socket, head, stopping))
        return;
    RecordedRequest request;
    HttpReply reply;
    if (parseRequest(head, request))
        reply = answer(request);
    else
        reply = HttpReply::withStatus(400, "bad request");

    if (reply.ending == ReplyEnding::StallBeforeHeader)
    {
        waitUntilStopped(24 * 60 * 60 * 1000);
        return;
    }
    if (!sendPaced(socket, serializeHead(reply), reply.dribbleHeader, reply))
        return;
    if (reply.bodyFile ? !sendFilePart(socket, *reply.bodyFile)
                       : !sendPaced(socket, wireBody(reply), true, reply))
        return;
    if (reply.ending == ReplyEnding::StallAfterBytes)
        waitUntilStopped(24 * 60 * 60 * 1000);
    try
    {
        if (reply.ending == ReplyEnding::ResetAfterBytes)
            socket.setLinger(true, 0); // closing now sends a reset
        else
            socket.shutdownSend();
        socket.close();
    }
    catch (const Poco::Exception&)
    {
        // The client has already gone.
    }
}

// Sends `data` at once, or, when the reply dribbles and `dribble` allows it, a few bytes
// at a time with a pause after each piece. False when the client went away or the
// server stops.
bool HttpTestServer::sendPaced(Poco::Net::StreamSocket& socket, const std::string& data,
                               bool dribble, const HttpReply& reply)
{
    if (!dribble || reply.dribbleBytes == 0)
        return sendAll(socket, data.data(), data.size(), stopping);
    for (std::size_t sent = 0; sent < data.size(); sent += reply.dribbleBytes)
    {
        const std::size_t piece = std::min(reply.dribbleBytes, data.size() - sent);
        if (!sendAll(socket, data.data() + sent, piece, stopping))
            return false;
        if (sent + piece < data.size() &&
            waitUntilStopped(static_cast<int>(reply.dribbleInterval.count())))
            return false;
    }
    return true;
}

// Sends the part of the file in blocks as they are read. False when the file cannot be read
// to the part's end, the client went away or the server stops.
bool HttpTestServer::sendFilePart(Poco::Net::StreamSocket& socket, const HttpReply::FilePart& part)
{
    boost::filesystem::ifstream in(part.file, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(part.offset));
    std::vector<char> block(1024 * 1024);
    for (std::uint64_t left = part.length; left > 0;)
    {
        const auto wanted =
            static_cast<std::streamsize>(std::min<std::uint64_t>(left, block.size()));
        if (!in.read(block.data(), wanted) ||
            !sendAll(socket, block.data(), static_cast<std::size_t>(wanted), stopping))
            return false;
        left -= static_cast<std::uint64_t>(wanted);
    }
    return true;
}

} // namespace Veltora::Testing
