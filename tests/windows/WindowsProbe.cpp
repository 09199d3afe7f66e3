// Child program of the process tests.
// Unless it relaunches, it first records its argument vector into the file named by the
// environment variable VELTORA_PROBE_RECORD (when set): each argument as its length, a
// blank, the text and a line feed; the file appears at once, complete.
// "probe exit N": ends with exit code N.
// "probe relaunch PROGRAM ARGS...": stores ARGS as the command line stores relaunch
// arguments (wrapped in double quotes) and replaces itself by PROGRAM; 1 when that fails.
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
void recordArguments(int argc, char** argv)
{
    const wchar_t* record = _wgetenv(L"VELTORA_PROBE_RECORD");
    if (record == nullptr)
        return;
    const std::wstring part = std::wstring(record) + L".part";
    {
        std::ofstream out(part.c_str(), std::ios::binary);
        for (int index = 0; index < argc; ++index)
            out << std::strlen(argv[index]) << ' ' << argv[index] << '\n';
    }
    MoveFileExW(part.c_str(), record, MOVEFILE_REPLACE_EXISTING);
}

std::string storedRelaunchArgument(const std::string& text)
{
    std::string stored = text;
    if (text.empty() || text.front() != '"')
        stored.insert(0, 1, '"');
    if (text.empty() || text.back() != '"')
        stored.push_back('"');
    return stored;
}

int relaunch(int argc, char** argv)
{
    std::vector<std::string> arguments;
    for (int index = 3; index < argc; ++index)
        arguments.push_back(storedRelaunchArgument(argv[index]));
    Veltora::Platform::replaceProcess(argv[2], arguments);
    return 1;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc >= 3 && std::strcmp(argv[1], "relaunch") == 0)
        return relaunch(argc, argv);
    recordArguments(argc, argv);
    if (argc >= 3 && std::strcmp(argv[1], "exit") == 0)
        return std::atoi(argv[2]);
    return 0;
}
