#include "platform/Platform.h"
#include "platform/QuotedText.h"

#include <cerrno>
#include <csignal>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace Veltora::Platform
{
namespace
{
// A POSIX child receives the argument vector as it is, so it gets the bare texts.
// Owns the bare argument texts and the null-terminated vector that points into them.
class ArgumentVector
{
public:
    explicit ArgumentVector(const std::vector<std::string>& arguments)
    {
        for (const std::string& argument : arguments)
            texts.push_back(withoutOuterQuotes(argument));
        for (std::string& text : texts)
            pointers.push_back(text.data());
        pointers.push_back(nullptr);
    }
    char* const* data() { return pointers.data(); }

private:
    std::vector<std::string> texts;
    std::vector<char*> pointers;
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
    execv(program.c_str(), argv.data());
}

int spawnAndWait(const std::string& program, const std::vector<std::string>& arguments)
{
    makeExecutableForOwner(program);
    ArgumentVector argv(arguments);
    pid_t child = 0;
    if (posix_spawn(&child, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0)
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
