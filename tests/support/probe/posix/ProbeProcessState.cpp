#include "tests/support/probe/ProbeProcessState.h"

#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <unistd.h>

namespace Veltora::Testing
{
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
} // namespace

std::string blockedSignalsOfThisProcess()
{
    return statusLine("SigBlk");
}

std::string ignoredSignalsOfThisProcess()
{
    return statusLine("SigIgn");
}

// The listing's own descriptor is left out.
std::vector<int> openDescriptorsOfThisProcess()
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

void spoilProcessState()
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
}

} // namespace Veltora::Testing
