#pragma once

#include <windows.h>

#include <string>

namespace Veltora::Platform::Windows
{

// An open file handle, closed when it goes away; INVALID_HANDLE_VALUE when the open failed.
class FileHandle
{
public:
    explicit FileHandle(HANDLE opened) : handle(opened) {}
    ~FileHandle();
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    bool isOpen() const { return handle != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle; }

    // Closes it now. False, with the error in GetLastError, when the close fails.
    bool close();

private:
    HANDLE handle;
};

// Writes all of `content`, in pieces WriteFile can take. False, with the error in
// GetLastError, when a write fails.
bool writeAll(HANDLE file, const std::string& content);

} // namespace Veltora::Platform::Windows
