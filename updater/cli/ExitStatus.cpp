#include "updater/cli/ExitStatus.h"

namespace Veltora::Updater
{

bool updateCompleted = false;

int exitStatusAfterRun()
{
    return updateCompleted ? ExitStatus::Updated : ExitStatus::NotCompleted;
}

} // namespace Veltora::Updater
