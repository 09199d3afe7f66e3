#include "tests/support/ProcessorPinning.h"

namespace Veltora::Testing
{

ProcessorPinning::ProcessorPinning(const std::function<void()>& startThreads)
    : original(allowedProcessors())
{
    if (original.size() >= 2)
        runOn({original[1]});
    startThreads();
    if (original.size() >= 2)
        runOn({original[0]});
}

ProcessorPinning::~ProcessorPinning()
{
    if (original.size() >= 2)
        runOn(original);
}

} // namespace Veltora::Testing
