#include "tests/support/ChildProcess.h"

#include "tests/support/WaitUntil.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>

extern char** environ;

namespace Veltora::Testing
{

namespace
{
std::vector<std::string> mergedEnvironment(const std::map<std::string, std::string>& changes)
{
    std::vector<std::string> merged;
    for (char** entry = environ; *entry != nullptr; ++entry)
    {
        const std::string text = *entry;
        if (changes.count(text.substr(0, text.find('='))) == 0)
            merged.push_back(text);
    }
    for (const auto& [name, value] : changes)
        if (!value.empty())
            merged.push_back(name + "=" + value);
    return merged;
}

std::vector<char*> pointersTo(std::vector<std::string>& texts)
{
    std::vector<char*> pointers;
    for (std::string& text : texts)
        pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

// Owns the spawn attributes for the length of one posix_spawn call.
class SpawnActions
{
public:
    SpawnActions() { posix_spawn_file_actions_init(&actions); }
    ~SpawnActions() { posix_spawn_file_actions_destroy(&actions); }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
    posix_spawn_file_actions_t* get() { return &actions; }

private:
    posix_spawn_file_actions_t actions;
};
} // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const Options& options)
    : outputFile(options.outputFile), errorFile(options.errorFile)
{
    std::vector<std::string> argumentTexts{program};
    argumentTexts.insert(argumentTexts.end(), arguments.begin(), arguments.end());
    std::vector<std::string> environmentTexts = mergedEnvironment(options.environment);
    std::vector<char*> argv = pointersTo(argumentTexts);
    std::vector<char*> envp = pointersTo(environmentTexts);

    SpawnActions actions;
    if (!options.workingFolder.empty())
        posix_spawn_file_actions_addchdir_np(actions.get(), options.workingFolder.c_str());
    posix_spawn_file_actions_addopen(actions.get(), 1, outputFile.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (options.errorFile.empty())
        posix_spawn_file_actions_adddup2(actions.get(), 1, 2);
    else
        posix_spawn_file_actions_addopen(actions.get(), 2, options.errorFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY, 0);

    const int error =
        posix_spawnp(&processId, program.c_str(), actions.get(), nullptr, argv.data(), envp.data());
    if (error != 0)
        throw std::runtime_error("cannot start " + program + ": " + std::strerror(error));
}

ChildProcess::~ChildProcess()
{
    kill();
}

bool ChildProcess::reap(bool block)
{
    if (status)
        return true;
    int raw = 0;
    pid_t result = 0;
    do
        result = waitpid(processId, &raw, block ? 0 : WNOHANG);
    while (result < 0 && errno == EINTR);
    if (result != processId)
        return false;
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -WTERMSIG(raw);
    return true;
}

std::optional<int> ChildProcess::waitFor(std::chrono::milliseconds timeout)
{
    if (!waitUntil([this] { return reap(false); }, timeout))
        return std::nullopt;
    return status;
}

bool ChildProcess::running()
{
    return !reap(false);
}

void ChildProcess::kill()
{
    if (processId <= 0 || reap(false))
        return;
    ::kill(processId, SIGKILL);
    reap(true);
}

} // namespace Veltora::Testing
