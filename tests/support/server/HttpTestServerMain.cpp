// Serves a folder over HTTP on 127.0.0.1 for end-to-end tests and demos, e.g. a folder
// holding "api/resources/soft/SKU/linux/latest" (the JSON answer) and the installers it
// names. Prints "Serving <folder> at http://127.0.0.1:<port>" once listening, optionally
// writes the port number to a file, and runs until it is killed or its lifetime ends.
// With --certificate and --private-key (PEM files) it serves over TLS ("https://...").

#include "tests/support/HttpTestServer.h"

#include <Poco/Exception.h>
#include <boost/filesystem/fstream.hpp>
#include <boost/filesystem/operations.hpp>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <thread>

namespace
{
struct Options
{
    std::string folder;
    std::uint16_t port = 0;
    std::string portFile;
    std::string user;
    std::string password;
    Veltora::Testing::TlsIdentity identity;
    bool authenticate = false;
    bool ignoreRange = false;
    long lifetimeSeconds = 0;
};

int usage()
{
    std::cerr << "usage: http_test_server FOLDER [--port N] [--port-file FILE]\n"
                 "                        [--user NAME --password TEXT] [--ignore-range]\n"
                 "                        [--lifetime SECONDS]\n"
                 "                        [--certificate PEM --private-key PEM]\n";
    return 2;
}

bool parseOptions(int argc, char** argv, Options& options)
{
    for (int index = 1; index < argc; ++index)
    {
        const std::string argument = argv[index];
        const bool hasValue = index + 1 < argc;
        if (argument == "--ignore-range")
            options.ignoreRange = true;
        else if (argument == "--port" && hasValue)
            options.port = static_cast<std::uint16_t>(std::stoul(argv[++index]));
        else if (argument == "--port-file" && hasValue)
            options.portFile = argv[++index];
        else if (argument == "--user" && hasValue)
            options.user = argv[++index], options.authenticate = true;
        else if (argument == "--password" && hasValue)
            options.password = argv[++index], options.authenticate = true;
        else if (argument == "--lifetime" && hasValue)
            options.lifetimeSeconds = std::stol(argv[++index]);
        else if (argument == "--certificate" && hasValue)
            options.identity.certificateFile = argv[++index];
        else if (argument == "--private-key" && hasValue)
            options.identity.privateKeyFile = argv[++index];
        else if (options.folder.empty() && argument.rfind("--", 0) != 0)
            options.folder = argument;
        else
            return false;
    }
    const bool tls = !options.identity.certificateFile.empty();
    return !options.folder.empty() && tls == !options.identity.privateKeyFile.empty();
}

// Null, after a message on standard error, when the server cannot start.
std::unique_ptr<Veltora::Testing::HttpTestServer> makeServer(const Options& options)
{
    try
    {
        if (options.identity.certificateFile.empty())
            return std::make_unique<Veltora::Testing::HttpTestServer>(options.port);
        return std::make_unique<Veltora::Testing::HttpTestServer>(options.identity, options.port);
    }
    catch (const Poco::Exception& error)
    {
        std::cerr << "http_test_server: " << error.displayText() << "\n";
    }
    catch (const std::exception& error)
    {
        std::cerr << "http_test_server: " << error.what() << "\n";
    }
    return nullptr;
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

    const auto serverObject = makeServer(options);
    if (!serverObject)
        return 1;
    Veltora::Testing::HttpTestServer& server = *serverObject;
    server.serveFolder(options.folder, options.ignoreRange ? Veltora::Testing::RangeMode::Ignore
                                                           : Veltora::Testing::RangeMode::Honour);
    if (options.authenticate)
        server.requireBasicAuth(options.user, options.password);
    if (!options.portFile.empty())
    {
        // Written beside and renamed, so a reader never sees a half-written file.
        const boost::filesystem::path finalPath(options.portFile);
        const boost::filesystem::path partPath(options.portFile + ".part");
        {
            boost::filesystem::ofstream portFile(partPath);
            portFile << server.port() << '\n';
        }
        boost::filesystem::rename(partPath, finalPath);
    }
    std::cout << "Serving " << options.folder << " at " << server.url("") << std::endl;

    const auto end =
        std::chrono::steady_clock::now() + std::chrono::seconds(options.lifetimeSeconds);
    while (options.lifetimeSeconds <= 0 || std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    return 0;
}
