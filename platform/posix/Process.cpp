#include "platform/Platform.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/close_range.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace Veltora::Platform
{
namespace
{
// Highest descriptor that a child keeps: standard input, output and error.
constexpr int lastInheritedDescriptor = 2;

// A POSIX child receives the argument vector as it is. Owns the texts and the
// null-terminated vector that points into them.
class ArgumentVector
{
public:
    explicit ArgumentVector(const std::vector<std::string>& arguments) : texts(arguments)
    {
        for (std::string& text : texts)
            pointers.push_back(text.data());
        pointers.push_back(nullptr);
    }
    char* const* data() { return pointers.data(); }

private:
    std::vector<std::string> texts;
    std::vector<char*> pointers;
};

// The spawn attributes and file actions that start a child in a clean state: every signal
// at its default action, none blocked, and no descriptor but 0, 1 and 2.
class CleanSpawn
{
public:
    CleanSpawn()
    {
        posix_spawnattr_init(&attributes);
        posix_spawn_file_actions_init(&actions);
        // sigfillset leaves out the C library's two internal signals (32 and 33), which the
        // spawned child would then start with ignored; a set with every bit takes them in.
        sigset_t all;
        std::memset(&all, 0xFF, sizeof all);
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigdefault(&attributes, &all);
        posix_spawnattr_setsigmask(&attributes, &none);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
        posix_spawn_file_actions_addclosefrom_np(&actions, lastInheritedDescriptor + 1);
    }
    ~CleanSpawn()
    {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
    CleanSpawn(const CleanSpawn&) = delete;
    CleanSpawn& operator=(const CleanSpawn&) = delete;

    const posix_spawnattr_t* spawnAttributes() const { return &attributes; }
    const posix_spawn_file_actions_t* fileActions() const { return &actions; }

private:
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_t actions;
};

// Marks every descriptor above 2 close-on-exec, so that a successful exec leaves only the
// standard ones while a failed exec still has all of them.
void closeExtraDescriptorsOnExec()
{
    if (syscall(SYS_close_range, lastInheritedDescriptor + 1, ~0U, CLOSE_RANGE_CLOEXEC) == 0)
        return;
    // Kernels before 5.11 lack the flag; the open descriptors are listed instead.
    DIR* listing = opendir("/proc/self/fd");
    if (listing == nullptr)
        return;
    const int listingDescriptor = dirfd(listing);
    while (const dirent* entry = readdir(listing))
    {
        const int descriptor = std::atoi(entry->d_name);
        if (descriptor > lastInheritedDescriptor && descriptor != listingDescriptor)
            fcntl(descriptor, F_SETFD, fcntl(descriptor, F_GETFD) | FD_CLOEXEC);
    }
    closedir(listing);
}

// A signal action and mask in the system call's own form (Linux on x86-64 and AArch64).
// The C library's sigaction and sigprocmask leave out its two internal signals (32 and
// 33); the system calls take them, so that they are not passed on ignored or blocked.
struct KernelSignalAction
{
    void (*handler)(int) = SIG_DFL;
    unsigned long flags = 0;
    void (*restorer)() = nullptr;
    std::uint64_t mask = 0;
};
constexpr int lastKernelSignal = 64;
constexpr std::uint64_t everySignal = ~std::uint64_t{0};

bool exchangeSignalAction(int signal, const KernelSignalAction& action,
                          KernelSignalAction* previous)
{
    return syscall(SYS_rt_sigaction, signal, &action, previous, sizeof(std::uint64_t)) == 0;
}

void setSignalMask(std::uint64_t mask, std::uint64_t* previous)
{
    syscall(SYS_rt_sigprocmask, SIG_SETMASK, &mask, previous, sizeof(std::uint64_t));
}

// Puts the process into the state a replacing program must start in: all signals at their
// default actions, none blocked, descriptors above 2 closed by the exec. Ignored signals
// and the blocked set would otherwise survive the exec. When the exec fails, the
// destructor gives the process its signal state back, so that it ends as it would have.
class ExecState
{
public:
    ExecState()
    {
        // Nothing is delivered to this thread while its actions are half reset.
        setSignalMask(everySignal, &previousMask);
        for (int signal = 1; signal <= lastKernelSignal; ++signal)
            savedActions[signal].valid =
                exchangeSignalAction(signal, KernelSignalAction{}, &savedActions[signal].action);
        closeExtraDescriptorsOnExec();
        setSignalMask(0, nullptr);
    }
    ~ExecState()
    {
        setSignalMask(everySignal, nullptr);
        for (int signal = 1; signal <= lastKernelSignal; ++signal)
            if (savedActions[signal].valid)
                exchangeSignalAction(signal, savedActions[signal].action, nullptr);
        setSignalMask(previousMask, nullptr);
    }
    ExecState(const ExecState&) = delete;
    ExecState& operator=(const ExecState&) = delete;

private:
    struct SavedAction
    {
        KernelSignalAction action;
        bool valid = false;
    };
    std::array<SavedAction, lastKernelSignal + 1> savedActions{};
    std::uint64_t previousMask = 0;
};

void makeExecutableForOwner(const std::string& program)
{
    struct stat status
    {
    };
    if (stat(program.c_str(), &status) == 0 && S_ISREG(status.st_mode))
        chmod(program.c_str(), status.st_mode | S_IXUSR);
}
} // namespace

void replaceProcess(const std::string& program, const std::vector<std::string>& arguments)
{
    ArgumentVector argv(arguments);
    const ExecState cleanState;
    execv(program.c_str(), argv.data());
}

int spawnAndWait(const std::string& program, const std::vector<std::string>& arguments)
{
    makeExecutableForOwner(program);
    ArgumentVector argv(arguments);
    const CleanSpawn clean;
    pid_t child = 0;
    if (posix_spawn(&child, program.c_str(), clean.fileActions(), clean.spawnAttributes(),
                    argv.data(), environ) != 0)
        return -1;
    int status = 0;
    while (waitpid(child, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    // A child ended by a signal has no exit code; it counts as a failed start.
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void ignoreBrokenConnectionSignals()
{
    std::signal(SIGPIPE, SIG_IGN);
}

} // namespace Veltora::Platform
