#pragma once

#include <string>

namespace Veltora::Testing
{

// Sends the process's standard output (file descriptor 1, so C++ streams, stdio and
// other threads alike) into a temporary file until text() or destruction restores it.
class CapturedStdout
{
public:
    CapturedStdout();
    ~CapturedStdout();
    CapturedStdout(const CapturedStdout&) = delete;
    CapturedStdout& operator=(const CapturedStdout&) = delete;

    // Restores standard output (once) and returns everything written meanwhile.
    std::string text();

private:
    void restore();

    int savedDescriptor = -1;
    int captureDescriptor = -1;
    std::string captured;
};

} // namespace Veltora::Testing
