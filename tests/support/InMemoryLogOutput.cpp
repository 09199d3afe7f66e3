#include "tests/support/InMemoryLogOutput.h"

namespace Veltora::Testing
{

void InMemoryLogOutput::write(const char* text, std::size_t length)
{
    std::lock_guard<std::mutex> lock(mutex);
    written.append(text, length);
}

std::string InMemoryLogOutput::text() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return written;
}

} // namespace Veltora::Testing
