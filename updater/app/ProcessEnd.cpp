#include "updater/app/ProcessEnd.h"

#include "updater/cli/ExitStatus.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>

namespace Veltora::Updater
{

void endProcess(int status, const std::string& cause)
{
    reportFailure(cause);
    // Running static destructors here could race the worker threads that are still
    // alive, so the process ends without them; only what was printed is kept.
    std::cout.flush();
    std::fflush(stdout);
    std::_Exit(status);
}

} // namespace Veltora::Updater
