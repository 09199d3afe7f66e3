#include "tests/support/ProcessorPinning.h"

#include <windows.h>

namespace Veltora::Testing
{
namespace
{
constexpr int maskBits = static_cast<int>(sizeof(DWORD_PTR) * 8);
}

// A thread may use what its process may use; SetThreadAffinityMask reports the thread's
// mask only by changing it, so the process's is read.
std::vector<int> ProcessorPinning::allowedProcessors()
{
    DWORD_PTR process = 0;
    DWORD_PTR system = 0;
    std::vector<int> processors;
    if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system))
        return processors;
    for (int cpu = 0; cpu < maskBits; ++cpu)
        if ((process >> cpu) & 1u)
            processors.push_back(cpu);
    return processors;
}

void ProcessorPinning::runOn(const std::vector<int>& processors)
{
    DWORD_PTR mask = 0;
    for (const int cpu : processors)
        mask |= DWORD_PTR{1} << cpu;
    SetThreadAffinityMask(GetCurrentThread(), mask);
}

} // namespace Veltora::Testing
