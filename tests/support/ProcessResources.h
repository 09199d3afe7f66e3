#pragma once

#include <cstddef>

namespace Veltora::Testing
{

// What the test process holds right now, to show that something let go of all it took:
// its threads, and its open descriptors (POSIX) or handles (Windows).
std::size_t threadsOfThisProcess();
std::size_t openHandlesOfThisProcess();

} // namespace Veltora::Testing
