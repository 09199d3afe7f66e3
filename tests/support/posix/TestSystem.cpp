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

const char* textFileLineEnd()
{
    return "\n";
}

bool fileNamesMayHoldQuotes()
{
    return true;
}

} // namespace Veltora::Testing
