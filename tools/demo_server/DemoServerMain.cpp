// The demo resources server: serves the resources API and the installers of a folder of
// releases (--releases, see ReleaseCatalog.h) or of a tree written by updater-publish
// (--site, see PublishedTree.h) on 127.0.0.1 until it receives SIGINT or SIGTERM.
//
//     demo_server (--releases DIR | --site DIR) [--rate BYTES_PER_SECOND] [--cut-transfers N]
//                 [--port N] [--port-file FILE] [--lifetime SECONDS]
//
// With --port 0 (the default) the system picks a free port; it is printed and, with
// --port-file, written to FILE once the server accepts connections.
#include "tools/demo_server/DemoRequestHandlerFactory.h"
#include "tools/demo_server/PublishedTree.h"
#include "tools/demo_server/ReleaseCatalog.h"
#include "tools/demo_server/TransferPolicy.h"
#include "tools/loopback_server/LoopbackServerProgram.h"

#include <Poco/Net/HTTPServer.h>
#include <Poco/Net/HTTPServerParams.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/SocketAddress.h>
#include <boost/filesystem/operations.hpp>

#include <csignal>
#include <cstdint>
#include <exception>
#include <iostream>
#include <memory>
#include <string>

using Veltora::LoopbackServer::LoopbackServerProgram;

namespace
{
struct Options
{
    std::string releases;
    std::string site;
    std::uint64_t bytesPerSecond = 0;
    int transfersToCut = 0;
};

void addOwnOptions(LoopbackServerProgram& program, Options& options)
{
    program.option("--releases", [&](const std::string& value) { options.releases = value; });
    program.option("--site", [&](const std::string& value) { options.site = value; });
    program.option("--rate", [&](const std::string& value)
                   { options.bytesPerSecond = LoopbackServerProgram::number(value); });
    program.option("--cut-transfers",
                   [&](const std::string& value) { options.transfersToCut = std::stoi(value); });
}

std::unique_ptr<Veltora::Demo::ReleaseSource> releaseSource(const Options& options)
{
    if (options.site.empty())
        return std::make_unique<Veltora::Demo::ReleaseCatalog>(options.releases);
    return std::make_unique<Veltora::Demo::PublishedTree>(options.site);
}

// The server listening on 127.0.0.1:port; throws when it cannot listen there.
std::unique_ptr<Poco::Net::HTTPServer> startServer(Veltora::Demo::ReleaseSource& source,
                                                   Veltora::Demo::TransferPolicy& policy,
                                                   std::uint16_t port)
{
    // Without SO_REUSEPORT, which POCO's listening constructor sets: a port that another
    // server holds is refused instead of shared with it.
    Poco::Net::ServerSocket socket;
    socket.bind(Poco::Net::SocketAddress("127.0.0.1", port), true, false);
    socket.listen();
    Poco::Net::HTTPServerParams::Ptr parameters = new Poco::Net::HTTPServerParams;
    parameters->setKeepAlive(false);
    auto server = std::make_unique<Poco::Net::HTTPServer>(
        new Veltora::Demo::DemoRequestHandlerFactory(source, policy), socket, parameters);
    server->start();
    return server;
}
} // namespace

int main(int argc, char** argv)
{
    LoopbackServerProgram program("demo_server",
                                  "(--releases DIR | --site DIR) [--rate BYTES_PER_SECOND] "
                                  "[--cut-transfers N]");
    Options options;
    addOwnOptions(program, options);
    if (!program.parse(argc, argv) || options.releases.empty() == options.site.empty())
        return program.usage();
    const std::string folder = options.site.empty() ? options.releases : options.site;
    if (!boost::filesystem::is_directory(folder))
    {
        std::cerr << "demo_server: " << folder << " is not a folder\n";
        return 2;
    }

    // A client that hangs up mid-transfer must not end the server.
    std::signal(SIGPIPE, SIG_IGN);
    const std::unique_ptr<Veltora::Demo::ReleaseSource> source = releaseSource(options);
    Veltora::Demo::TransferPolicy policy;
    policy.bytesPerSecond = options.bytesPerSecond;
    policy.transfersToCut = options.transfersToCut;

    std::unique_ptr<Poco::Net::HTTPServer> server;
    try
    {
        server = startServer(*source, policy, program.port());
    }
    catch (const std::exception& error)
    {
        return program.cannotStart(error);
    }
    const std::uint16_t port = server->port();
    program.announce(folder, "http://127.0.0.1:" + std::to_string(port), port);
    program.waitForStopRequest();
    server->stopAll(true);
    return program.stopped();
}
