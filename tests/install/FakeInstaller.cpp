// Stands in for a product installer. Its behaviour comes from the file beside it named
// like the program plus ".conf", with lines:
//   exit N       exit code (default 0)
//   log PATH     file to which it appends "start NAME", then each argument as
//                "arg TEXT", then "end NAME" (NAME is the program's file name)
//   gate PATH    waits, at most 30 s, until PATH exists before it ends
#include "platform/Platform.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <thread>

namespace
{
struct Behaviour
{
    int exitCode = 0;
    std::string log;
    std::string gate;
};

Behaviour readBehaviour(const std::string& program)
{
    Behaviour behaviour;
    std::ifstream conf(program + ".conf");
    std::string key;
    while (conf >> key)
    {
        std::string value;
        std::getline(conf >> std::ws, value);
        if (key == "exit")
            behaviour.exitCode = std::atoi(value.c_str());
        else if (key == "log")
            behaviour.log = value;
        else if (key == "gate")
            behaviour.gate = value;
    }
    return behaviour;
}

void append(const std::string& log, const std::string& line)
{
    if (log.empty())
        return;
    std::ofstream out(log, std::ios::app);
    out << line << '\n';
}

void waitForGate(const std::string& gate)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    std::error_code error;
    while (!gate.empty() && !std::filesystem::exists(gate, error) &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}
} // namespace

int main(int argc, char** argv)
{
    const std::string program = Veltora::Platform::modulePath();
    const std::string name = std::filesystem::path(program).filename().string();
    const Behaviour behaviour = readBehaviour(program);
    append(behaviour.log, "start " + name);
    for (int index = 0; index < argc; ++index)
        append(behaviour.log, std::string("arg ") + argv[index]);
    waitForGate(behaviour.gate);
    append(behaviour.log, "end " + name);
    return behaviour.exitCode;
}
