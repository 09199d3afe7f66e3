#include "tests/support/probe/ProbeProcessState.h"

#include <fcntl.h>
#include <io.h>

namespace Veltora::Testing
{
namespace
{
// The C run time hands its table of descriptors to the children it starts; well above
// the few a test opens.
constexpr int descriptorsLooked = 64;
} // namespace

std::string blockedSignalsOfThisProcess()
{
    return "0";
}

std::string ignoredSignalsOfThisProcess()
{
    return "0";
}

std::vector<int> openDescriptorsOfThisProcess()
{
    std::vector<int> descriptors;
    for (int descriptor = 0; descriptor < descriptorsLooked; ++descriptor)
        if (_get_osfhandle(descriptor) != -1)
            descriptors.push_back(descriptor);
    return descriptors;
}

// Files of the C run time are inheritable unless opened with _O_NOINHERIT.
void spoilProcessState()
{
    const int inherited = _open("NUL", _O_RDONLY);
    const int duplicate = _dup2(inherited, 9);
    (void)duplicate;
}

} // namespace Veltora::Testing
