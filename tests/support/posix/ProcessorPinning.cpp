#include "tests/support/ProcessorPinning.h"

#include <pthread.h>
#include <sched.h>

namespace Veltora::Testing
{

std::vector<int> ProcessorPinning::allowedProcessors()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    std::vector<int> processors;
    if (pthread_getaffinity_np(pthread_self(), sizeof(set), &set) != 0)
        return processors;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
        if (CPU_ISSET(cpu, &set))
            processors.push_back(cpu);
    return processors;
}

void ProcessorPinning::runOn(const std::vector<int>& processors)
{
    cpu_set_t set;
    CPU_ZERO(&set);
    for (const int cpu : processors)
        CPU_SET(cpu, &set);
    pthread_setaffinity_np(pthread_self(), sizeof(set), &set);
}

} // namespace Veltora::Testing
