// Serves a folder over HTTP on 127.0.0.1 for end-to-end tests and demos, e.g. a folder
// holding "api/resources/soft/SKU/linux/latest" (the JSON answer) and the installers it
// names. Prints "http_test_server: serving <folder> at http://127.0.0.1:<port>" once
// listening, optionally writes the port number to a file, and runs until SIGINT or SIGTERM
// or the end of its lifetime. With --certificate and --private-key (PEM files) it serves
// over TLS ("https://...").

#include "tests/support/HttpTestServer.h"
#include "tools/loopback_server/LoopbackServerProgram.h"

#include <Poco/Net/Net.h>

#include <exception>
#include <memory>
#include <string>

using Veltora::LoopbackServer::LoopbackServerProgram;
using Veltora::Testing::HttpTestServer;

namespace
{
struct Options
{
    std::string folder;
    std::string user;
    std::string password;
    Veltora::Testing::TlsIdentity identity;
    bool authenticate = false;
    bool ignoreRange = false;

    bool complete() const
    {
        const bool tls = !identity.certificateFile.empty();
        return !folder.empty() && tls == !identity.privateKeyFile.empty();
    }
};

void addOwnOptions(LoopbackServerProgram& program, Options& options)
{
    program.operand([&](const std::string& value) { options.folder = value; });
    program.flag("--ignore-range", [&] { options.ignoreRange = true; });
    program.option("--user", [&](const std::string& value)
                   { options.user = value, options.authenticate = true; });
    program.option("--password", [&](const std::string& value)
                   { options.password = value, options.authenticate = true; });
    program.option("--certificate",
                   [&](const std::string& value) { options.identity.certificateFile = value; });
    program.option("--private-key",
                   [&](const std::string& value) { options.identity.privateKeyFile = value; });
}

// The server listening on 127.0.0.1:port and serving the folder; throws when it cannot.
std::unique_ptr<HttpTestServer> startServer(const Options& options, std::uint16_t port)
{
    auto server = options.identity.certificateFile.empty()
                      ? std::make_unique<HttpTestServer>(port)
                      : std::make_unique<HttpTestServer>(options.identity, port);
    server->serveFolder(options.folder, options.ignoreRange ? Veltora::Testing::RangeMode::Ignore
                                                            : Veltora::Testing::RangeMode::Honour);
    if (options.authenticate)
        server->requireBasicAuth(options.user, options.password);
    return server;
}
} // namespace

int main(int argc, char** argv)
{
    LoopbackServerProgram program("http_test_server",
                                  "FOLDER [--user NAME --password TEXT] [--ignore-range]\n"
                                  "                        [--certificate PEM --private-key PEM]");
    Options options;
    addOwnOptions(program, options);
    if (!program.parse(argc, argv) || !options.complete())
        return program.usage();

    // Starts the Windows sockets library, which GCC builds of POCO never start by
    // themselves (elsewhere it does nothing).
    Poco::Net::initializeNetwork();
    std::unique_ptr<HttpTestServer> server;
    try
    {
        server = startServer(options, program.port());
    }
    catch (const std::exception& error)
    {
        return program.cannotStart(error);
    }
    program.announce(options.folder, server->url(""), server->port());
    program.waitForStopRequest();
    server->stop();
    return program.stopped();
}
