#include "platform/Platform.h"
#include "platform/posix/FileDescriptor.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Veltora::Platform
{
bool createPrivateFile(const std::string& path, const std::string& content, std::string& error)
{
    if (path.find('\0') != std::string::npos)
    {
        error = "the path holds a NUL character";
        return false;
    }
    // O_EXCL refuses an existing name, a dangling symbolic link included; the mode is given
    // at creation, so the file is never readable by others, whatever happens afterwards.
    FileDescriptor file(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                               S_IRUSR | S_IWUSR));
    if (!file.isOpen())
    {
        error = std::strerror(errno);
        return false;
    }
    // The umask may have taken bits away; set exactly owner read and write.
    const bool written = ::fchmod(file.get(), S_IRUSR | S_IWUSR) == 0 &&
                         writeAll(file.get(), content) && ::fsync(file.get()) == 0 && file.close();
    if (!written)
    {
        error = std::strerror(errno);
        ::unlink(path.c_str());
    }
    return written;
}

} // namespace Veltora::Platform
