#include "tests/support/ChildProcess.h"

#include <stdexcept>

namespace Veltora::Testing
{

// A Windows test program, run under Wine, cannot start the build machine's programs that
// ChildProcess exists for; tests that need them skip there (buildMachineProgramsCanRun).
ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>&,
                           const Options& options)
    : outputFile(options.outputFile), errorFile(options.errorFile)
{
    throw std::runtime_error("cannot start " + program +
                             ": Windows tests start no programs of "
                             "the build machine");
}

ChildProcess::~ChildProcess() = default;

bool ChildProcess::reap(bool)
{
    return true;
}

std::optional<int> ChildProcess::waitFor(std::chrono::milliseconds)
{
    return status;
}

bool ChildProcess::running()
{
    return false;
}

void ChildProcess::kill() {}

} // namespace Veltora::Testing
