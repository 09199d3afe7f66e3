#include "platform/Platform.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Veltora::Platform
{
namespace
{
bool writeAll(int descriptor, const std::string& content)
{
    std::size_t written = 0;
    while (written < content.size())
    {
        const ssize_t result =
            ::write(descriptor, content.data() + written, content.size() - written);
        if (result < 0 && errno == EINTR)
            continue;
        if (result <= 0)
            return false;
        written += static_cast<std::size_t>(result);
    }
    return true;
}
} // namespace

bool createPrivateFile(const std::string& path, const std::string& content, std::string& error)
{
    // O_EXCL refuses an existing name, a dangling symbolic link included; the mode is given
    // at creation, so the file is never readable by others, whatever happens afterwards.
    const int descriptor = ::open(
        path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, S_IRUSR | S_IWUSR);
    if (descriptor < 0)
    {
        error = std::strerror(errno);
        return false;
    }
    // The umask may have taken bits away; set exactly owner read and write.
    bool written = ::fchmod(descriptor, S_IRUSR | S_IWUSR) == 0 && writeAll(descriptor, content) &&
                   ::fsync(descriptor) == 0;
    if (!written)
        error = std::strerror(errno);
    if (::close(descriptor) != 0 && written)
    {
        error = std::strerror(errno);
        written = false;
    }
    if (!written)
        ::unlink(path.c_str());
    return written;
}

} // namespace Veltora::Platform
