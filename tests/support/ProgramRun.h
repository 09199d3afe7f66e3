#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace Veltora::Testing
{

// What a program run to its end left behind.
struct ProgramRun
{
    // The exit status, -signal when a signal ended it, nothing when it was killed at the
    // deadline.
    std::optional<int> status;
    std::string standardOutput;
    std::string standardError;
};

// Runs `program` (looked up in PATH when it has no slash) with `arguments` (argument 0
// not included) as a real child process, standard input from /dev/null, and its standard
// output and error captured apart. A program still running at the deadline is killed.
// Throws std::runtime_error when it cannot be started. POSIX systems only: it runs the
// build machine's own programs (openssl, the publishing tool, nginx).
ProgramRun runProgram(const std::string& program, const std::vector<std::string>& arguments,
                      std::chrono::milliseconds deadline = std::chrono::seconds(60));

} // namespace Veltora::Testing
