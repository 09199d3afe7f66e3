#pragma once

#include <string>

namespace Veltora::Platform
{

// An open file descriptor, closed when it goes away; -1 when the open failed.
class FileDescriptor
{
public:
    explicit FileDescriptor(int opened) : descriptor(opened) {}
    ~FileDescriptor();
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    bool isOpen() const { return descriptor >= 0; }
    int get() const { return descriptor; }

    // Closes it now. False, with errno set, when the close reports an error: a write the
    // system had accepted may then be lost.
    bool close();

private:
    int descriptor;
};

// Writes all of `text`, going on after interrupted and partial writes. False, with errno
// set, when a write fails.
bool writeAll(int descriptor, const std::string& text);

} // namespace Veltora::Platform
