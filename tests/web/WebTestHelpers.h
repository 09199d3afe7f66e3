#pragma once

// What the WebRequest tests share: reproducible bodies, a whole transfer done the way a
// caller does it, and waits with deadlines for stalled servers and the server executable.

#include "UpdateManager/web/WebRequest.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/WaitUntil.h"

#include <Poco/Base64Encoder.h>
#include <boost/filesystem/fstream.hpp>
#include <boost/filesystem/operations.hpp>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>

namespace Veltora::Testing
{

inline std::string bytesOf(std::size_t size)
{
    std::string content(size, '\0');
    for (std::size_t index = 0; index < size; ++index)
        content[index] = static_cast<char>('a' + index % 26);
    return content;
}

inline std::string basicAuthorization(const std::string& credentials)
{
    std::ostringstream encoded;
    Poco::Base64Encoder encoder(encoded);
    encoder << credentials;
    encoder.close();
    return "Basic " + encoded.str();
}

// The whole body transfer as a caller does it: send, then chunks while data remains.
inline void download(UpdateManager::WebRequest& request, const std::string& url, std::ostream& out)
{
    request.send(url);
    while (request.hasMoreData())
        request.readChunk(out);
}

inline std::string downloadText(UpdateManager::WebRequest& request, const std::string& url)
{
    std::ostringstream out;
    download(request, url, out);
    return out.str();
}

// A download resumed as the updater resumes one: the request starts after the bytes the
// file already holds (`had`) and adds the rest; the whole file comes back.
inline std::string resumedDownload(UpdateManager::WebRequest& request, const std::string& url,
                                   const std::string& had)
{
    std::ostringstream file(had, std::ios::ate);
    request.setStartOffset(static_cast<std::int64_t>(had.size()));
    download(request, url, file);
    return file.str();
}

// Runs `work` on its own thread; if it has not finished by the deadline the servers are
// stopped (which releases any stalled connection) and false comes back instead of a hang.
template <typename Work>
bool finishesBefore(std::chrono::seconds deadline, std::initializer_list<HttpTestServer*> servers,
                    Work work)
{
    std::atomic<bool> finished{false};
    std::thread worker(
        [&]
        {
            work();
            finished = true;
        });
    const bool inTime = waitUntil([&] { return finished.load(); }, deadline);
    if (!inTime)
        for (HttpTestServer* server : servers)
            server->stop();
    worker.join();
    return inTime;
}

// Polls for the file the server executable writes once it listens.
inline bool waitForPortFile(const boost::filesystem::path& file, std::string& port)
{
    return waitUntil(
        [&]
        {
            if (!boost::filesystem::exists(file))
                return false;
            boost::filesystem::ifstream in(file);
            return static_cast<bool>(in >> port);
        },
        std::chrono::seconds(30));
}

} // namespace Veltora::Testing
