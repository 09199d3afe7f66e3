#include "tests/support/ProcessResources.h"

#include <boost/filesystem/operations.hpp>

namespace Veltora::Testing
{
namespace
{
std::size_t entriesIn(const char* directory)
{
    std::size_t count = 0;
    for (boost::filesystem::directory_iterator entry(directory), end; entry != end; ++entry)
        ++count;
    return count;
}
} // namespace

std::size_t threadsOfThisProcess()
{
    return entriesIn("/proc/self/task");
}

// The directory listing itself holds one descriptor while it is read.
std::size_t openHandlesOfThisProcess()
{
    return entriesIn("/proc/self/fd") - 1;
}

} // namespace Veltora::Testing
