#include "tests/support/TestSystem.h"

namespace Veltora::Testing
{

bool userSettingsFollowTheEnvironment()
{
    return false;
}

bool buildMachineProgramsCanRun()
{
    return false;
}

} // namespace Veltora::Testing
