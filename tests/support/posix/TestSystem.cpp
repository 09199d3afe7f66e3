#include "tests/support/TestSystem.h"

namespace Veltora::Testing
{

bool userSettingsFollowTheEnvironment()
{
    return true;
}

} // namespace Veltora::Testing
