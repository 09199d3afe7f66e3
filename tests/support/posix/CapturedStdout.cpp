#include "tests/support/CapturedStdout.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <stdexcept>
#include <unistd.h>

namespace Veltora::Testing
{

CapturedStdout::CapturedStdout()
{
    std::cout.flush();
    std::fflush(stdout);
    char name[] = "/tmp/updater-stdout-XXXXXX";
    captureDescriptor = mkstemp(name);
    if (captureDescriptor < 0)
        throw std::runtime_error("cannot create the capture file");
    unlink(name);
    savedDescriptor = dup(STDOUT_FILENO);
    dup2(captureDescriptor, STDOUT_FILENO);
}

CapturedStdout::~CapturedStdout()
{
    restore();
}

std::string CapturedStdout::text()
{
    restore();
    return captured;
}

void CapturedStdout::restore()
{
    if (savedDescriptor < 0)
        return;
    std::cout.flush();
    std::fflush(stdout);
    dup2(savedDescriptor, STDOUT_FILENO);
    close(savedDescriptor);
    savedDescriptor = -1;
    lseek(captureDescriptor, 0, SEEK_SET);
    char chunk[65536];
    ssize_t count = 0;
    while ((count = read(captureDescriptor, chunk, sizeof(chunk))) > 0)
        captured.append(chunk, static_cast<std::size_t>(count));
    close(captureDescriptor);
}

} // namespace Veltora::Testing
