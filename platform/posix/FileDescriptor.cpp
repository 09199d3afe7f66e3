#include "platform/posix/FileDescriptor.h"

#include <cerrno>
#include <unistd.h>

namespace Veltora::Platform
{

FileDescriptor::~FileDescriptor()
{
    close();
}

bool FileDescriptor::close()
{
    if (descriptor < 0)
        return true;
    const int closing = descriptor;
    descriptor = -1;
    return ::close(closing) == 0;
}

bool writeAll(int descriptor, const std::string& text)
{
    std::size_t written = 0;
    while (written < text.size())
    {
        const ssize_t result = ::write(descriptor, text.data() + written, text.size() - written);
        if (result < 0 && errno == EINTR)
            continue;
        if (result <= 0)
            return false;
        written += static_cast<std::size_t>(result);
    }
    return true;
}

} // namespace Veltora::Platform
