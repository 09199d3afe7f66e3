#include "tests/support/TestSystem.h"

namespace Veltora::Testing
{

bool userSettingsFollowTheEnvironment()
{
    return true;
}

bool buildMachineProgramsCanRun()
{
    return true;
}

bool environmentNamesAreCaseSensitive()
{
    return true;
}

bool fileNamesMayHoldQuotes()
{
    return true;
}

} // namespace Veltora::Testing
