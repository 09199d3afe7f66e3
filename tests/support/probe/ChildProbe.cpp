// Stands in for a child of the updater (an installer, a relaunched product) and records
// how it was started. When CHILD_PROBE_RECORD_DIR is set, it writes
// <that folder>/<its own file name>.record (see ChildProbeRecord.h): its argument vector,
// its blocked and ignored signals, and its open descriptors. The file appears complete at
// once. It then exits with CHILD_PROBE_EXIT_CODE (default 0).
//
// "child_probe --replace-dirty PROGRAM ARGS...": first ignores and blocks some signals and
// opens a descriptor that is not closed on exec, as the updater's own state may be, then
// replaces itself through the platform layer by PROGRAM with the argument vector
// PROGRAM ARGS...; exits with 1 when that fails.
#include "platform/Platform.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace
{
std::string statusLine(const std::string& name)
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.compare(0, name.size() + 1, name + ":") == 0)
            return line.substr(line.find_first_not_of(" \t", name.size() + 1));
    return "?";
}

// Taken before anything else is opened; the listing's own descriptor is left out.
std::vector<int> openDescriptors()
{
    std::vector<int> descriptors;
    DIR* listing = opendir("/proc/self/fd");
    if (listing == nullptr)
        return descriptors;
    while (const dirent* entry = readdir(listing))
        if (entry->d_name[0] != '.' && std::atoi(entry->d_name) != dirfd(listing))
            descriptors.push_back(std::atoi(entry->d_name));
    closedir(listing);
    return descriptors;
}

void record(int argc, char** argv)
{
    const char* folder = std::getenv("CHILD_PROBE_RECORD_DIR");
    if (folder == nullptr)
        return;
    const std::vector<int> descriptors = openDescriptors();
    std::ostringstream text;
    text << "arguments " << argc << '\n';
    for (int index = 0; index < argc; ++index)
        text << std::strlen(argv[index]) << ' ' << argv[index] << '\n';
    text << "blocked " << statusLine("SigBlk") << '\n';
    text << "ignored " << statusLine("SigIgn") << '\n';
    text << "descriptors";
    for (const int descriptor : descriptors)
        text << ' ' << descriptor;
    text << '\n';

    const char* slash = std::strrchr(argv[0], '/');
    const std::string file = std::string(folder) + "/" + (slash ? slash + 1 : argv[0]) + ".record";
    {
        std::ofstream out(file + ".part", std::ios::binary | std::ios::trunc);
        out << text.str();
    }
    std::rename((file + ".part").c_str(), file.c_str());
}

int replaceDirty(int argc, char** argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGUSR1, SIG_IGN);
    std::signal(SIGHUP, SIG_IGN);
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGUSR2);
    sigaddset(&blocked, SIGTERM);
    sigprocmask(SIG_BLOCK, &blocked, nullptr);
    const int inherited = open("/dev/null", O_RDONLY);
    const int duplicate = dup2(inherited, 9);
    (void)duplicate;

    std::vector<std::string> arguments(argv + 2, argv + argc);
    Veltora::Platform::replaceProcess(arguments.front(), arguments);
    return 1;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc >= 3 && std::strcmp(argv[1], "--replace-dirty") == 0)
        return replaceDirty(argc, argv);
    record(argc, argv);
    const char* exitCode = std::getenv("CHILD_PROBE_EXIT_CODE");
    return exitCode ? std::atoi(exitCode) : 0;
}
