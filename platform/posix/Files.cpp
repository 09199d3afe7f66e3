#include "platform/Platform.h"
#include "platform/posix/FileDescriptor.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Veltora::Platform
{
namespace
{
bool isPlainFileName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string("/\0", 2)) == std::string::npos;
}

// Opening without following a final link fails with ELOOP (or ENOTDIR for a folder) when
// that name is a link.
std::string openFailure(const std::string& what, int error)
{
    if (error == ELOOP || error == ENOTDIR)
        return what + " is a symbolic link or not what it should be";
    return what + ": " + std::strerror(error);
}

// Only a regular file with this one name is written: a hard link would carry the text to
// the file's other names, and a FIFO or device is not a file at all.
bool isWritableFile(int descriptor, std::string& reason)
{
    struct stat status
    {
    };
    if (fstat(descriptor, &status) != 0)
    {
        reason = std::string("cannot examine the file: ") + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(status.st_mode))
    {
        reason = "the file is not a regular file";
        return false;
    }
    if (status.st_nlink > 1)
    {
        reason = "the file has other names (hard links)";
        return false;
    }
    return true;
}

bool replaceContent(int descriptor, const std::string& text, std::string& reason)
{
    if (ftruncate(descriptor, 0) != 0)
    {
        reason = std::string("cannot empty the file: ") + std::strerror(errno);
        return false;
    }
    if (!writeAll(descriptor, text))
    {
        reason = std::string("cannot write the file: ") + std::strerror(errno);
        return false;
    }
    return true;
}
} // namespace

// The file is opened relative to the folder that was opened, so neither can be swapped
// for a link between the checks and the write. O_NONBLOCK keeps a FIFO planted under the
// name from blocking the open; it changes nothing for a regular file.
bool writeTextFileInFolder(const std::string& folder, const std::string& name,
                           const std::string& text, std::string& reason)
{
    if (!isPlainFileName(name))
    {
        reason = "'" + name + "' is not a plain file name";
        return false;
    }
    const FileDescriptor directory(
        open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!directory.isOpen())
    {
        reason = openFailure("the folder '" + folder + "'", errno);
        return false;
    }
    const FileDescriptor file(openat(directory.get(), name.c_str(),
                                     O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                                     0666));
    if (!file.isOpen())
    {
        reason = openFailure("the file '" + name + "'", errno);
        return false;
    }
    return isWritableFile(file.get(), reason) && replaceContent(file.get(), text, reason);
}

} // namespace Veltora::Platform
