#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <string>

namespace Veltora::LoopbackServer
{

// The steps that the loopback HTTP server programs (the tests' http_test_server and the
// demo server) take around their own server, in this order:
//
//     LoopbackServerProgram program("demo_server", "(--releases DIR | --site DIR)");
//     program.option("--site", [&](const std::string& folder) { site = folder; });
//     if (!program.parse(argc, argv) || site.empty())
//         return program.usage();
//     ... start the server on 127.0.0.1:program.port(), or return program.cannotStart(error)
//     program.announce(site, "http://127.0.0.1:" + port, port);
//     program.waitForStopRequest();
//     ... stop the server ...
//     return program.stopped();
//
// Every program takes the same common options: --port N (default 0: the system picks a
// free port), --port-file FILE (the port, written once the server listens) and --lifetime
// SECONDS (default 0: until a stop request), which ends a server a test forgot.
class LoopbackServerProgram
{
public:
    // `name` starts every line the program prints; `synopsis` is its own part of the usage.
    LoopbackServerProgram(std::string name, std::string synopsis);
    // Gives SIGINT and SIGTERM back the handling they had before announce().
    ~LoopbackServerProgram();
    LoopbackServerProgram(const LoopbackServerProgram&) = delete;
    LoopbackServerProgram& operator=(const LoopbackServerProgram&) = delete;

    // An option with a value ("--rate 1000"). `take` may throw to refuse the value.
    void option(const std::string& name, std::function<void(const std::string&)> take);
    // An option without a value ("--ignore-range").
    void flag(const std::string& name, std::function<void()> set);
    // The one argument that is not an option; without this call none is accepted.
    void operand(std::function<void(const std::string&)> take);

    // Reads the command line; false when an argument is unknown, repeated as the operand,
    // lacks its value or has one its option refuses.
    bool parse(int argc, const char* const* argv);
    // Prints the usage line on standard error; returns the exit status for it, 2.
    int usage() const;
    // Prints why the server could not start on standard error; returns its exit status, 1.
    int cannotStart(const std::exception& error) const;

    std::uint16_t port() const { return requestedPort; }

    // Prints "<name>: serving <what> at <url>" and writes the port file, under another name
    // first and then renamed, so that a reader never sees it half written. From here on
    // SIGINT and SIGTERM end waitForStopRequest() instead of the program.
    void announce(const std::string& what, const std::string& url, std::uint16_t listeningPort);
    // Returns once SIGINT or SIGTERM came after announce(), or when the lifetime is over.
    void waitForStopRequest() const;
    // Prints "<name>: stopped"; returns the exit status for it, 0.
    int stopped() const;

    // A whole decimal number (digits only, no sign); throws std::invalid_argument otherwise.
    static std::uint64_t number(const std::string& text);

private:
    struct Option
    {
        bool takesValue = false;
        std::function<void(const std::string&)> take;
    };

    std::string name;
    std::string synopsis;
    std::map<std::string, Option> options;
    std::function<void(const std::string&)> takeOperand;
    std::uint16_t requestedPort = 0;
    std::string portFile;
    std::uint64_t lifetimeSeconds = 0;
    bool handlingStopSignals = false;
    void (*previousInterruptHandler)(int) = nullptr;
    void (*previousTerminateHandler)(int) = nullptr;
};

} // namespace Veltora::LoopbackServer
