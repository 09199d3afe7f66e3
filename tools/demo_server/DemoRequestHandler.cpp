#include "tools/demo_server/DemoRequestHandler.h"

#include "tools/loopback_server/ContentPart.h"

#include <Poco/Exception.h>
#include <Poco/Net/HTTPServerRequest.h>
#include <Poco/Net/HTTPServerRequestImpl.h>
#include <Poco/Net/HTTPServerResponse.h>
#include <Poco/Net/StreamSocket.h>
#include <boost/filesystem/fstream.hpp>
#include <boost/filesystem/operations.hpp>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <optional>
#include <sstream>
#include <thread>
#include <vector>

namespace Veltora::Demo
{

namespace fs = boost::filesystem;
using Poco::Net::HTTPResponse;

namespace
{
constexpr std::size_t updaterChunk = 8192;
constexpr std::size_t fastBlock = 1 << 20;

std::vector<std::string> splitPath(const std::string& path)
{
    std::vector<std::string> pieces;
    std::istringstream text(path);
    std::string piece;
    while (std::getline(text, piece, '/'))
        if (!piece.empty())
            pieces.push_back(piece);
    return pieces;
}

// Claims one of the transfers to cut, if any are left.
bool claimCut(std::atomic<int>& transfersToCut)
{
    int left = transfersToCut.load();
    while (left > 0)
        if (transfersToCut.compare_exchange_weak(left, left - 1))
            return true;
    return false;
}

void sendAll(Poco::Net::StreamSocket& socket, const char* data, std::size_t length)
{
    while (length > 0)
    {
        const int sent = socket.sendBytes(data, static_cast<int>(length));
        if (sent <= 0)
            throw Poco::IOException("connection closed by the client");
        data += sent;
        length -= static_cast<std::size_t>(sent);
    }
}

// Sends `length` bytes of `file` from `offset`, paced to `bytesPerSecond` when not 0.
void sendFileBytes(Poco::Net::StreamSocket& socket, const fs::path& file, std::uint64_t offset,
                   std::uint64_t length, std::uint64_t bytesPerSecond)
{
    fs::ifstream input(file, std::ios::binary);
    input.seekg(static_cast<std::streamoff>(offset));
    const std::size_t blockSize =
        bytesPerSecond == 0 ? fastBlock
                            : std::clamp<std::size_t>(bytesPerSecond / 20, updaterChunk, fastBlock);
    std::vector<char> block(blockSize);
    const auto start = std::chrono::steady_clock::now();
    std::uint64_t sent = 0;
    while (sent < length)
    {
        const std::size_t wanted =
            static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), length - sent));
        if (!input.read(block.data(), static_cast<std::streamsize>(wanted)))
            throw Poco::IOException("cannot read " + file.string());
        sendAll(socket, block.data(), wanted);
        sent += wanted;
        if (bytesPerSecond != 0)
            std::this_thread::sleep_until(
                start + std::chrono::microseconds(sent * 1000000 / bytesPerSecond));
    }
}
} // namespace

DemoRequestHandler::DemoRequestHandler(ReleaseSource& releases, TransferPolicy& transfers)
    : source(releases), policy(transfers)
{
}

void DemoRequestHandler::handleRequest(Poco::Net::HTTPServerRequest& request,
                                       Poco::Net::HTTPServerResponse& response)
{
    // One request per connection keeps cut transfers simple: closing ends the reply.
    response.setKeepAlive(false);
    const std::string path = request.getURI().substr(0, request.getURI().find('?'));
    try
    {
        if (request.getMethod() != "GET")
            sendText(response, HTTPResponse::HTTP_METHOD_NOT_ALLOWED, "text/plain", "GET only\n");
        else if (path.rfind("/api/resources/", 0) == 0)
            answerResources(path, request, response);
        else if (path.rfind("/files/", 0) == 0)
            answerFile(path, request, response);
        else
            sendText(response, HTTPResponse::HTTP_NOT_FOUND, "text/plain", "not found\n");
    }
    catch (const std::exception& error)
    {
        report(request, 500, error.what());
        if (!response.sent())
            sendText(response, HTTPResponse::HTTP_INTERNAL_SERVER_ERROR, "text/plain",
                     std::string(error.what()) + "\n");
    }
}

void DemoRequestHandler::answerResources(const std::string& path,
                                         Poco::Net::HTTPServerRequest& request,
                                         Poco::Net::HTTPServerResponse& response)
{
    // api, resources, type, sku, platform, selector
    const std::vector<std::string> pieces = splitPath(path);
    if (pieces.size() != 6 || pieces[5] != "latest")
    {
        sendText(response, HTTPResponse::HTTP_NOT_FOUND, "text/plain", "not found\n");
        report(request, 404, "");
        return;
    }
    const std::string host =
        request.getHost().empty() ? request.serverAddress().toString() : request.getHost();
    const std::optional<std::string> json =
        source.latestResources(pieces[2], pieces[3], pieces[4], host);
    if (!json)
    {
        sendText(response, HTTPResponse::HTTP_NOT_FOUND, "text/plain", "not found\n");
        report(request, 404, "");
        return;
    }
    sendText(response, HTTPResponse::HTTP_OK, "application/json", *json);
    report(request, 200, "platform " + pieces[4] + ", " + *json);
}

void DemoRequestHandler::answerFile(const std::string& path, Poco::Net::HTTPServerRequest& request,
                                    Poco::Net::HTTPServerResponse& response)
{
    const std::vector<std::string> pieces = splitPath(path);
    const std::optional<fs::path> file =
        source.installerFile(std::vector<std::string>(pieces.begin() + 1, pieces.end()));
    if (!file)
    {
        sendText(response, HTTPResponse::HTTP_NOT_FOUND, "text/plain", "not found\n");
        report(request, 404, "");
        return;
    }

    const std::uint64_t size = fs::file_size(*file);
    const LoopbackServer::ContentPart part = LoopbackServer::ContentPart::of(
        size,
        request.has("Range") ? std::optional<std::string>(request.get("Range")) : std::nullopt);
    if (part.contentRange)
        response.set("Content-Range", *part.contentRange);
    if (part.status == HTTPResponse::HTTP_REQUESTED_RANGE_NOT_SATISFIABLE)
    {
        sendText(response, HTTPResponse::HTTP_REQUESTED_RANGE_NOT_SATISFIABLE, "text/plain", "");
        report(request, 416, "size " + std::to_string(size));
        return;
    }

    const std::uint64_t first = part.first;
    const std::uint64_t length = part.length;
    response.setStatusAndReason(static_cast<HTTPResponse::HTTPStatus>(part.status));
    response.setContentType("application/octet-stream");
    response.setContentLength64(static_cast<Poco::Int64>(length));
    response.send().flush();

    const bool cut = claimCut(policy.transfersToCut);
    const std::uint64_t sending = cut ? (length / 2) / updaterChunk * updaterChunk : length;
    const std::string bytes = "bytes " + std::to_string(first) + "-" +
                              std::to_string(first + length - 1) + "/" + std::to_string(size);
    report(request, part.status,
           cut ? bytes + ", cut after " + std::to_string(sending) + " bytes" : bytes);
    // The header went through Poco's session; the body goes straight to the socket in
    // large blocks, which keeps a fast transfer from being paced by a small buffer.
    Poco::Net::StreamSocket& socket =
        static_cast<Poco::Net::HTTPServerRequestImpl&>(request).socket();
    sendFileBytes(socket, *file, first, sending, policy.bytesPerSecond);
}

void DemoRequestHandler::sendText(Poco::Net::HTTPServerResponse& response, int status,
                                  const std::string& type, const std::string& body)
{
    response.setStatusAndReason(static_cast<HTTPResponse::HTTPStatus>(status));
    response.setContentType(type);
    response.sendBuffer(body.data(), body.size());
}

void DemoRequestHandler::report(const Poco::Net::HTTPServerRequest& request, int status,
                                const std::string& detail) const
{
    std::ostringstream line;
    line << "demo_server: " << request.getMethod() << " " << request.getURI() << " -> " << status;
    if (!detail.empty())
        line << " (" << detail << ")";
    line << '\n';
    std::cout << line.str() << std::flush;
}

} // namespace Veltora::Demo
