#include "tests/support/ChildProcess.h"

#include "tests/support/FileContent.h"

namespace Veltora::Testing
{

std::string ChildProcess::output() const
{
    return readFile(outputFile);
}

std::string ChildProcess::errorOutput() const
{
    return errorFile.empty() ? std::string() : readFile(errorFile);
}

Completed runToEnd(const std::string& program, const std::vector<std::string>& arguments,
                   const ChildProcess::Options& options, std::chrono::milliseconds timeout)
{
    ChildProcess child(program, arguments, options);
    Completed result;
    result.status = child.waitFor(timeout);
    child.kill();
    result.output = child.output();
    return result;
}

} // namespace Veltora::Testing
