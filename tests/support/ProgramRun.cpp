#include "tests/support/ProgramRun.h"

#include "tests/support/TempFolder.h"
#include "tests/support/WaitUntil.h"

#include <boost/filesystem/fstream.hpp>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>

extern char** environ;

namespace Veltora::Testing
{
namespace
{
// Owns the file actions for the length of one posix_spawn call.
class SpawnFileActions
{
public:
    SpawnFileActions() { posix_spawn_file_actions_init(&actions); }
    ~SpawnFileActions() { posix_spawn_file_actions_destroy(&actions); }
    SpawnFileActions(const SpawnFileActions&) = delete;
    SpawnFileActions& operator=(const SpawnFileActions&) = delete;
    posix_spawn_file_actions_t* get() { return &actions; }

private:
    posix_spawn_file_actions_t actions;
};

std::string contentOf(const boost::filesystem::path& file)
{
    boost::filesystem::ifstream input(file, std::ios::binary);
    std::ostringstream text;
    text << input.rdbuf();
    return text.str();
}

// Reaps the child when it has ended; the status is set then.
bool reaped(pid_t child, std::optional<int>& status)
{
    int raw = 0;
    pid_t result = 0;
    do
        result = waitpid(child, &raw, WNOHANG);
    while (result < 0 && errno == EINTR);
    if (result != child)
        return false;
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -WTERMSIG(raw);
    return true;
}
} // namespace

ProgramRun runProgram(const std::string& program, const std::vector<std::string>& arguments,
                      std::chrono::milliseconds deadline)
{
    const TempFolder outputs;
    const boost::filesystem::path outputFile = outputs / "stdout";
    const boost::filesystem::path errorFile = outputs / "stderr";

    std::vector<std::string> texts{program};
    texts.insert(texts.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& text : texts)
        argv.push_back(text.data());
    argv.push_back(nullptr);

    SpawnFileActions actions;
    posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(actions.get(), 1, outputFile.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(actions.get(), 2, errorFile.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t child = -1;
    const int error =
        posix_spawnp(&child, program.c_str(), actions.get(), nullptr, argv.data(), environ);
    if (error != 0)
        throw std::runtime_error("cannot start " + program + ": " + std::strerror(error));

    ProgramRun run;
    if (!waitUntil([&] { return reaped(child, run.status); }, deadline))
    {
        ::kill(child, SIGKILL);
        while (waitpid(child, nullptr, 0) < 0 && errno == EINTR)
        {
        }
        run.status.reset();
    }
    run.standardOutput = contentOf(outputFile);
    run.standardError = contentOf(errorFile);
    return run;
}

} // namespace Veltora::Testing
