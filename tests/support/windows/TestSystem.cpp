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

bool environmentNamesAreCaseSensitive()
{
    return false;
}

const char* textFileLineEnd()
{
    return "\r\n";
}

bool fileNamesMayHoldQuotes()
{
    return false;
}

} // namespace Veltora::Testing
