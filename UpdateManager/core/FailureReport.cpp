#include "UpdateManager/core/FailureReport.h"

namespace Veltora::UpdateManager
{

void FailureReport::note(const std::string& cause)
{
    if (firstCause.empty())
        firstCause = cause;
}

} // namespace Veltora::UpdateManager
