#include "tests/support/TestSystem.h"

namespace Veltora::Testing
{

bool userSettingsFollowTheEnvironment()
{
    return false;
}

} // namespace Veltora::Testing
