#pragma once

#include <boost/filesystem/path.hpp>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace Veltora::Testing
{

// A real child process, standard input from /dev/null, whose standard output and error go
// to files. Killed (SIGKILL) and reaped on destruction if it still runs, so a failing test
// leaves nothing behind.
class ChildProcess
{
public:
    struct Options
    {
        // Added to (or replacing) the test's own environment; an empty value removes the
        // variable.
        std::map<std::string, std::string> environment;
        boost::filesystem::path workingFolder;
        boost::filesystem::path outputFile; // required
        // Where standard error goes; empty: into outputFile with standard output.
        boost::filesystem::path errorFile;
    };

    // `arguments` holds the arguments without argument 0; a program without a slash is
    // looked up in PATH. Throws std::runtime_error when the program cannot be started.
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                 const Options& options);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // The exit status once the process has ended by exit(), -signal when a signal ended
    // it, or nothing when it still runs at the deadline.
    std::optional<int> waitFor(std::chrono::milliseconds timeout);
    bool running();
    void kill();
    pid_t pid() const { return processId; }

    // What the process wrote so far.
    std::string output() const;
    // What it wrote to standard error so far, when it had an errorFile.
    std::string errorOutput() const;

private:
    bool reap(bool block);

    pid_t processId = -1;
    std::optional<int> status;
    boost::filesystem::path outputFile;
    boost::filesystem::path errorFile;
};

// Runs a program to its end (at most `timeout`) and returns its status and output;
// status is nothing when it had to be killed.
struct Completed
{
    std::optional<int> status;
    std::string output;
};
Completed runToEnd(const std::string& program, const std::vector<std::string>& arguments,
                   const ChildProcess::Options& options, std::chrono::milliseconds timeout);

} // namespace Veltora::Testing
