#include "tests/support/ProgramRun.h"

#include "tests/support/ChildProcess.h"
#include "tests/support/FileContent.h"
#include "tests/support/TempFolder.h"

namespace Veltora::Testing
{

ProgramRun runProgram(const std::string& program, const std::vector<std::string>& arguments,
                      std::chrono::milliseconds deadline)
{
    const TempFolder outputs;
    ChildProcess::Options options;
    options.outputFile = outputs / "stdout";
    options.errorFile = outputs / "stderr";
    ProgramRun run;
    {
        ChildProcess child(program, arguments, options);
        run.status = child.waitFor(deadline);
    }
    run.standardOutput = readFile(options.outputFile);
    run.standardError = readFile(options.errorFile);
    return run;
}

} // namespace Veltora::Testing
