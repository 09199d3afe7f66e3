// The demo resources server: serves the resources API and the installers of a folder of
// releases (--releases, see ReleaseCatalog.h) or of a tree written by updater-publish
// (--site, see PublishedTree.h) on 127.0.0.1 until it receives SIGINT or SIGTERM.
//
//     demo_server (--releases DIR | --site DIR) [--port N] [--port-file FILE]
//                 [--rate BYTES_PER_SECOND] [--cut-transfers N]
//
// With --port 0 (the default) the system picks a free port; it is printed and, with
// --port-file, written to FILE once the server accepts connections.
#include "tools/demo_server/DemoRequestHandlerFactory.h"
#include "tools/demo_server/PublishedTree.h"
#include "tools/demo_server/ReleaseCatalog.h"
#include "tools/demo_server/TransferPolicy.h"

#include <Poco/Net/HTTPServer.h>
#include <Poco/Net/HTTPServerParams.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/SocketAddress.h>
#include <boost/filesystem/fstream.hpp>
#include <boost/filesystem/operations.hpp>

#include <csignal>
#include <cstdint>
#include <exception>
#include <iostream>
#include <memory>
#include <string>

namespace
{
struct Options
{
    std::string releases;
    std::string site;
    std::uint16_t port = 0;
    std::string portFile;
    std::uint64_t bytesPerSecond = 0;
    int transfersToCut = 0;
};

int usage()
{
    std::cerr << "usage: demo_server (--releases DIR | --site DIR) [--port N] [--port-file FILE]\n"
                 "                   [--rate BYTES_PER_SECOND] [--cut-transfers N]\n";
    return 2;
}

bool parseOptions(int argc, char** argv, Options& options)
{
    for (int index = 1; index < argc; ++index)
    {
        const std::string argument = argv[index];
        if (index + 1 >= argc)
            return false;
        const std::string value = argv[++index];
        if (argument == "--releases")
            options.releases = value;
        else if (argument == "--site")
            options.site = value;
        else if (argument == "--port")
            options.port = static_cast<std::uint16_t>(std::stoul(value));
        else if (argument == "--port-file")
            options.portFile = value;
        else if (argument == "--rate")
            options.bytesPerSecond = std::stoull(value);
        else if (argument == "--cut-transfers")
            options.transfersToCut = std::stoi(value);
        else
            return false;
    }
    return options.releases.empty() != options.site.empty();
}

// The port file is written under another name and renamed, so a reader never sees it
// half written.
void writePortFile(const std::string& portFile, std::uint16_t port)
{
    const boost::filesystem::path target(portFile);
    const boost::filesystem::path partial = target.string() + ".partial";
    {
        boost::filesystem::ofstream out(partial);
        out << port << '\n';
    }
    boost::filesystem::rename(partial, target);
}

// Blocks SIGINT and SIGTERM in every thread (the server's threads inherit the mask) so
// that the main thread can wait for them.
sigset_t blockStopSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    return signals;
}
} // namespace

int main(int argc, char** argv)
{
    Options options;
    try
    {
        if (!parseOptions(argc, argv, options))
            return usage();
    }
    catch (const std::exception&)
    {
        return usage();
    }
    const std::string folder = options.site.empty() ? options.releases : options.site;
    if (!boost::filesystem::is_directory(folder))
    {
        std::cerr << "demo_server: " << folder << " is not a folder\n";
        return 2;
    }

    std::signal(SIGPIPE, SIG_IGN);
    const sigset_t stopSignals = blockStopSignals();

    std::unique_ptr<Veltora::Demo::ReleaseSource> source;
    if (options.site.empty())
        source = std::make_unique<Veltora::Demo::ReleaseCatalog>(options.releases);
    else
        source = std::make_unique<Veltora::Demo::PublishedTree>(options.site);
    Veltora::Demo::TransferPolicy policy;
    policy.bytesPerSecond = options.bytesPerSecond;
    policy.transfersToCut = options.transfersToCut;

    Poco::Net::ServerSocket socket(Poco::Net::SocketAddress("127.0.0.1", options.port));
    Poco::Net::HTTPServerParams::Ptr parameters = new Poco::Net::HTTPServerParams;
    parameters->setKeepAlive(false);
    Poco::Net::HTTPServer server(new Veltora::Demo::DemoRequestHandlerFactory(*source, policy),
                                 socket, parameters);
    server.start();

    const std::uint16_t port = socket.address().port();
    std::cout << "demo_server: serving " << folder << " at http://127.0.0.1:" << port << std::endl;
    if (!options.portFile.empty())
        writePortFile(options.portFile, port);

    int received = 0;
    sigwait(&stopSignals, &received);
    server.stopAll(true);
    std::cout << "demo_server: stopped" << std::endl;
    return 0;
}
