#include "tools/loopback_server/LoopbackServerProgram.h"

#include <Poco/Exception.h>
#include <boost/filesystem/fstream.hpp>
#include <boost/filesystem/operations.hpp>

#include <atomic>
#include <chrono>
#include <csignal>
#include <iostream>
#include <limits>
#include <stdexcept>
#include <thread>
#include <utility>

namespace Veltora::LoopbackServer
{

namespace
{
// Set by the signal handler, read by the waiting thread; lock-free, as a handler needs.
std::atomic<bool> stopRequested{false};

extern "C" void requestStop(int)
{
    stopRequested.store(true);
}

// How often the waiting thread looks at the stop request: a signal handler may do no more
// than set the flag.
constexpr std::chrono::milliseconds stopPollInterval{50};
} // namespace

LoopbackServerProgram::LoopbackServerProgram(std::string programName, std::string ownSynopsis)
    : name(std::move(programName)), synopsis(std::move(ownSynopsis))
{
    option("--port",
           [this](const std::string& value)
           {
               const std::uint64_t port = number(value);
               if (port > std::numeric_limits<std::uint16_t>::max())
                   throw std::invalid_argument("no such port: " + value);
               requestedPort = static_cast<std::uint16_t>(port);
           });
    option("--port-file", [this](const std::string& value) { portFile = value; });
    option("--lifetime", [this](const std::string& value) { lifetimeSeconds = number(value); });
}

LoopbackServerProgram::~LoopbackServerProgram()
{
    if (!handlingStopSignals)
        return;
    std::signal(SIGINT, previousInterruptHandler);
    std::signal(SIGTERM, previousTerminateHandler);
    stopRequested.store(false);
}

void LoopbackServerProgram::option(const std::string& optionName,
                                   std::function<void(const std::string&)> take)
{
    options[optionName] = Option{true, std::move(take)};
}

void LoopbackServerProgram::flag(const std::string& optionName, std::function<void()> set)
{
    options[optionName] = Option{false, [set = std::move(set)](const std::string&) { set(); }};
}

void LoopbackServerProgram::operand(std::function<void(const std::string&)> take)
{
    takeOperand = std::move(take);
}

bool LoopbackServerProgram::parse(int argc, const char* const* argv)
{
    bool operandTaken = false;
    try
    {
        for (int index = 1; index < argc; ++index)
        {
            const std::string argument = argv[index];
            const auto known = options.find(argument);
            if (known == options.end())
            {
                if (argument.rfind("--", 0) == 0 || !takeOperand || operandTaken)
                    return false;
                takeOperand(argument);
                operandTaken = true;
            }
            else if (!known->second.takesValue)
                known->second.take({});
            else if (index + 1 < argc)
                known->second.take(argv[++index]);
            else
                return false;
        }
    }
    catch (const std::exception&)
    {
        return false;
    }
    return true;
}

int LoopbackServerProgram::usage() const
{
    std::cerr << "usage: " << name << " " << synopsis << "\n"
              << std::string(name.size() + 8, ' ')
              << "[--port N] [--port-file FILE] [--lifetime SECONDS]\n";
    return 2;
}

int LoopbackServerProgram::cannotStart(const std::exception& error) const
{
    // A POCO exception keeps its message in displayText(); what() gives only its kind.
    const auto* pocoError = dynamic_cast<const Poco::Exception*>(&error);
    std::cerr << name << ": " << (pocoError ? pocoError->displayText() : error.what()) << "\n";
    return 1;
}

void LoopbackServerProgram::announce(const std::string& what, const std::string& url,
                                     std::uint16_t listeningPort)
{
    if (!handlingStopSignals)
    {
        stopRequested.store(false);
        previousInterruptHandler = std::signal(SIGINT, requestStop);
        previousTerminateHandler = std::signal(SIGTERM, requestStop);
        handlingStopSignals = true;
    }
    std::cout << name << ": serving " << what << " at " << url << std::endl;
    if (portFile.empty())
        return;
    const boost::filesystem::path target(portFile);
    const boost::filesystem::path partial(portFile + ".partial");
    {
        boost::filesystem::ofstream out(partial);
        out << listeningPort << '\n';
    }
    boost::filesystem::rename(partial, target);
}

void LoopbackServerProgram::waitForStopRequest() const
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(lifetimeSeconds);
    while (!stopRequested.load() &&
           (lifetimeSeconds == 0 || std::chrono::steady_clock::now() < end))
        std::this_thread::sleep_for(stopPollInterval);
}

int LoopbackServerProgram::stopped() const
{
    std::cout << name << ": stopped" << std::endl;
    return 0;
}

std::uint64_t LoopbackServerProgram::number(const std::string& text)
{
    if (text.empty() || text.size() > 19 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        throw std::invalid_argument("not a whole number: " + text);
    return std::stoull(text);
}

} // namespace Veltora::LoopbackServer
