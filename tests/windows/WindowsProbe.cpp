// Child program of the process tests.
// Unless it relaunches, it first records how it was started into the file named by the
// environment variable VELTORA_PROBE_RECORD (when set): its whole command line, then each
// argument of its argument vector, each as its length, a blank, the text and a line feed;
// the file appears at once, complete.
// "probe exit N": ends with exit code N.
// "probe relaunch PROGRAM ARGS...": replaces itself by PROGRAM with ARGS as its argument
// vector, exactly as given; 1 when that fails.
// Anything else ends with 0, as an installer that succeeded.
#include "platform/Platform.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace
{
void writeEntry(std::ofstream& out, const char* text)
{
    out << std::strlen(text) << ' ' << text << '\n';
}

void recordStart(int argc, char** argv)
{
    const wchar_t* record = _wgetenv(L"VELTORA_PROBE_RECORD");
    if (record == nullptr)
        return;
    const std::wstring part = std::wstring(record) + L".part";
    {
        std::ofstream out(part.c_str(), std::ios::binary);
        writeEntry(out, GetCommandLineA());
        for (int index = 0; index < argc; ++index)
            writeEntry(out, argv[index]);
    }
    MoveFileExW(part.c_str(), record, MOVEFILE_REPLACE_EXISTING);
}

int relaunch(int argc, char** argv)
{
    const std::vector<std::string> arguments(argv + 3, argv + argc);
    Veltora::Platform::replaceProcess(argv[2], arguments);
    return 1;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc >= 3 && std::strcmp(argv[1], "relaunch") == 0)
        return relaunch(argc, argv);
    recordStart(argc, argv);
    if (argc >= 3 && std::strcmp(argv[1], "exit") == 0)
        return std::atoi(argv[2]);
    return 0;
}
