#include "tests/support/ConnectionSignals.h"

namespace Veltora::Testing
{

void blockBrokenPipeSignalInThisThread() {}

int noBrokenPipeSignalSendFlags()
{
    return 0;
}

} // namespace Veltora::Testing
