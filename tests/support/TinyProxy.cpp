#include "tests/support/TinyProxy.h"

#include "tests/support/FileContent.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/WaitUntil.h"

#include <Poco/Exception.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/Net/StreamSocket.h>
#include <boost/filesystem/fstream.hpp>

#include <chrono>
#include <stdexcept>
#include <vector>

namespace Veltora::Testing
{
namespace
{
const char* const program = "tinyproxy";

bool accepts(std::uint16_t port)
{
    try
    {
        Poco::Net::StreamSocket probe;
        probe.connect(Poco::Net::SocketAddress("127.0.0.1", port), Poco::Timespan(1, 0));
        return true;
    }
    catch (const Poco::Exception&)
    {
        return false;
    }
}
} // namespace

TinyProxy::TinyProxy(std::optional<Credentials> required)
{
    // The port is free when chosen but may be taken before tinyproxy binds it; then
    // tinyproxy exits and another port is tried.
    for (int attempt = 0; attempt < 3; ++attempt)
        if (start(HttpTestServer::closedPort(), required))
            return;
    throw std::runtime_error(std::string(program) +
                             " did not start (scripts/install-deps.sh installs it); its log:\n" +
                             log());
}

TinyProxy::~TinyProxy()
{
    stop();
}

std::string TinyProxy::url() const
{
    return "http://127.0.0.1:" + std::to_string(listeningPort);
}

std::string TinyProxy::url(const std::string& user, const std::string& password) const
{
    return "http://" + user + ":" + password + "@127.0.0.1:" + std::to_string(listeningPort);
}

std::string TinyProxy::log() const
{
    return readFile(folder / "tinyproxy.log");
}

bool TinyProxy::logged(const std::string& text) const
{
    return log().find(text) != std::string::npos;
}

bool TinyProxy::start(std::uint16_t port, const std::optional<Credentials>& required)
{
    writeConfiguration(port, required);
    const std::vector<std::string> arguments{"-d", "-c", (folder / "tinyproxy.conf").string()};
    try
    {
        process = std::make_unique<Poco::ProcessHandle>(Poco::Process::launch(program, arguments));
    }
    catch (const Poco::Exception& error)
    {
        throw std::runtime_error(std::string("cannot start ") + program + ": " +
                                 error.displayText());
    }
    bool exited = false;
    const bool listening = waitUntil(
        [&]
        {
            exited = process->tryWait() != -1;
            return exited || accepts(port);
        },
        std::chrono::seconds(20));
    if (listening && !exited)
    {
        listeningPort = port;
        return true;
    }
    if (exited)
        process.reset();
    stop();
    return false;
}

// Every port may be tunnelled to (no ConnectPort line), every local client is served,
// and the log records each request and each CONNECT.
void TinyProxy::writeConfiguration(std::uint16_t port,
                                   const std::optional<Credentials>& required) const
{
    boost::filesystem::ofstream out(folder / "tinyproxy.conf", std::ios::trunc);
    out << "Port " << port << "\n"
        << "Listen 127.0.0.1\n"
        << "Timeout 30\n"
        << "MaxClients 20\n"
        << "LogLevel Connect\n"
        << "LogFile \"" << (folder / "tinyproxy.log").string() << "\"\n";
    if (required)
        out << "BasicAuth " << required->user << " " << required->password << "\n";
}

void TinyProxy::stop()
{
    if (!process)
        return;
    Poco::Process::kill(*process);
    process->wait();
    process.reset();
}

} // namespace Veltora::Testing
