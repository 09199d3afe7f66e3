#include "updater/cli/ExitStatus.h"

#include <iostream>

namespace Veltora::Updater
{

bool updateCompleted = false;
std::string incompleteRunCause;

int exitStatusAfterRun()
{
    return updateCompleted ? ExitStatus::Updated : ExitStatus::NotCompleted;
}

void reportFailure(const std::string& cause)
{
    std::cerr << "updater: " << cause << std::endl;
}

} // namespace Veltora::Updater
