#pragma once

#include <functional>
#include <vector>

namespace Veltora::Testing
{

// While it lives, the calling thread runs on the first processor it may use, and the
// threads that `startThreads` makes run on the second where the system lets threads inherit
// the processors of their maker (POSIX systems; under Windows they may run on any). With a
// single processor it changes nothing.
class ProcessorPinning
{
public:
    explicit ProcessorPinning(const std::function<void()>& startThreads);
    ~ProcessorPinning();
    ProcessorPinning(const ProcessorPinning&) = delete;
    ProcessorPinning& operator=(const ProcessorPinning&) = delete;

private:
    // The processors the calling thread may use, by number, and the same as a whole again.
    static std::vector<int> allowedProcessors();
    static void runOn(const std::vector<int>& processors);

    std::vector<int> original;
};

} // namespace Veltora::Testing
