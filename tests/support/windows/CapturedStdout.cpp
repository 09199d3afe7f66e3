// Windows implementation of tests/support/CapturedStdout.h: the capture file is a
// temporary file that the system deletes when it is closed, opened in binary mode so that
// the captured text keeps its line feeds as they were written.
#include "tests/support/CapturedStdout.h"

#include <windows.h>

#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <iostream>
#include <share.h>
#include <stdexcept>
#include <sys/stat.h>

namespace Veltora::Testing
{

CapturedStdout::CapturedStdout()
{
    std::cout.flush();
    std::fflush(stdout);
    wchar_t folder[MAX_PATH + 1] = {};
    wchar_t name[MAX_PATH + 1] = {};
    if (GetTempPathW(MAX_PATH + 1, folder) == 0 || GetTempFileNameW(folder, L"out", 0, name) == 0 ||
        _wsopen_s(&captureDescriptor, name, _O_RDWR | _O_BINARY | _O_TEMPORARY | _O_TRUNC,
                  _SH_DENYNO, _S_IREAD | _S_IWRITE) != 0)
        throw std::runtime_error("cannot create the capture file");
    savedDescriptor = _dup(1);
    _dup2(captureDescriptor, 1);
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
    _dup2(savedDescriptor, 1);
    _close(savedDescriptor);
    savedDescriptor = -1;
    _lseek(captureDescriptor, 0, SEEK_SET);
    char chunk[65536];
    int count = 0;
    while ((count = _read(captureDescriptor, chunk, sizeof(chunk))) > 0)
        captured.append(chunk, static_cast<std::size_t>(count));
    _close(captureDescriptor);
}

} // namespace Veltora::Testing
