#include "tests/e2e/XvfbDisplay.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <set>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace Veltora::Testing
{

namespace
{
constexpr int displayTimeoutMilliseconds = 20000;

// Servers still running. A test process that ends through exit() (Xlib's default error
// handler does that) skips the destructors, so an exit handler stops these instead of
// leaving them behind.
std::mutex runningMutex;
std::set<pid_t> runningServers;

void stopRunningServers()
{
    std::lock_guard<std::mutex> lock(runningMutex);
    for (pid_t server : runningServers)
        ::kill(server, SIGTERM);
}

void remember(pid_t server)
{
    static const bool registered = std::atexit(stopRunningServers) == 0;
    (void)registered;
    std::lock_guard<std::mutex> lock(runningMutex);
    runningServers.insert(server);
}

void forget(pid_t server)
{
    std::lock_guard<std::mutex> lock(runningMutex);
    runningServers.erase(server);
}

// Both ends of a pipe, closed when it goes away.
struct Pipe
{
    Pipe()
    {
        if (pipe2(descriptors, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
    }
    ~Pipe()
    {
        closeEnd(0);
        closeEnd(1);
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    void closeEnd(int end)
    {
        if (descriptors[end] >= 0)
            close(descriptors[end]);
        descriptors[end] = -1;
    }
    int descriptors[2] = {-1, -1};
};

// Xvfb writes the display number and a newline to the descriptor once it is ready.
std::string readDisplayNumber(int descriptor)
{
    std::string number;
    pollfd waiting{descriptor, POLLIN, 0};
    while (number.empty() || number.back() != '\n')
    {
        const int ready = poll(&waiting, 1, displayTimeoutMilliseconds);
        if (ready < 0 && errno == EINTR)
            continue;
        char piece[16];
        const ssize_t count = ready > 0 ? read(descriptor, piece, sizeof piece) : 0;
        if (count <= 0)
            throw std::runtime_error("Xvfb did not report a display");
        number.append(piece, static_cast<std::size_t>(count));
    }
    number.pop_back();
    return number;
}
} // namespace

XvfbDisplay::XvfbDisplay()
{
    Pipe ready;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // The write end becomes descriptor 3 of the server (dup2 clears close-on-exec).
    posix_spawn_file_actions_adddup2(&actions, ready.descriptors[1], 3);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> texts = {"Xvfb",        "-displayfd", "3",   "-screen", "0",
                                      "1024x768x24", "-nolisten",  "tcp", "-noreset"};
    std::vector<char*> argv;
    for (std::string& text : texts)
        argv.push_back(text.data());
    argv.push_back(nullptr);
    const int error = posix_spawnp(&processId, "Xvfb", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        throw std::runtime_error(std::string("cannot start Xvfb: ") + std::strerror(error));
    remember(processId);
    ready.closeEnd(1);
    try
    {
        displayName = ":" + readDisplayNumber(ready.descriptors[0]);
    }
    catch (...)
    {
        forget(processId);
        ::kill(processId, SIGKILL);
        waitpid(processId, nullptr, 0);
        throw;
    }
}

XvfbDisplay::~XvfbDisplay()
{
    forget(processId);
    ::kill(processId, SIGTERM);
    waitpid(processId, nullptr, 0);
}

} // namespace Veltora::Testing
