// Stands in for a product installer. Its behaviour comes from the file beside it named
// like the program plus ".conf", with lines:
//   exit N       exit code (default 0)
//   log PATH     file to which it appends "start NAME", then each argument as
//                "arg TEXT", then "end NAME" (NAME is the program's file name)
//   gate PATH    waits, at most 30 s, until PATH exists before it ends
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>

namespace
{
struct Behaviour
{
    int exitCode = 0;
    std::string log;
    std::string gate;
};

std::string ownPath()
{
    char path[4096] = {};
    const ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
    return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string();
}

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
    while (!gate.empty() && access(gate.c_str(), F_OK) != 0 &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}
} // namespace

int main(int argc, char** argv)
{
    const std::string program = ownPath();
    const std::string name = program.substr(program.rfind('/') + 1);
    const Behaviour behaviour = readBehaviour(program);
    append(behaviour.log, "start " + name);
    for (int index = 0; index < argc; ++index)
        append(behaviour.log, std::string("arg ") + argv[index]);
    waitForGate(behaviour.gate);
    append(behaviour.log, "end " + name);
    return behaviour.exitCode;
}
