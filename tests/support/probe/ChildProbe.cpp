// Stands in for a child of the updater (an installer, a relaunched product) and records
// how it was started. When CHILD_PROBE_RECORD_DIR is set, it writes
// <that folder>/<its own file name>.record (see ChildProbeRecord.h): its argument vector,
// its blocked and ignored signals, and its open descriptors. The file appears complete at
// once. It then exits with CHILD_PROBE_EXIT_CODE (default 0).
//
// "child_probe --replace-dirty PROGRAM ARGS...": first ignores and blocks some signals and
// opens a descriptor that is not closed on exec, as the updater's own state may be, then
// replaces itself through the platform layer by PROGRAM with the argument vector
// PROGRAM ARGS...; exits with 1 when that fails.
#include "platform/Platform.h"
#include "tests/support/probe/ProbeProcessState.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using namespace Veltora::Testing;

namespace
{
// The file name in a path with either separator.
std::string fileNameOf(const char* path)
{
    const std::string text(path);
    const std::size_t separator = text.find_last_of("/\\");
    return separator == std::string::npos ? text : text.substr(separator + 1);
}

void record(int argc, char** argv)
{
    const char* folder = std::getenv("CHILD_PROBE_RECORD_DIR");
    if (folder == nullptr)
        return;
    const std::vector<int> descriptors = openDescriptorsOfThisProcess();
    std::ostringstream text;
    text << "arguments " << argc << '\n';
    for (int index = 0; index < argc; ++index)
        text << std::strlen(argv[index]) << ' ' << argv[index] << '\n';
    text << "blocked " << blockedSignalsOfThisProcess() << '\n';
    text << "ignored " << ignoredSignalsOfThisProcess() << '\n';
    text << "descriptors";
    for (const int descriptor : descriptors)
        text << ' ' << descriptor;
    text << '\n';

    const std::string file = std::string(folder) + "/" + fileNameOf(argv[0]) + ".record";
    {
        std::ofstream out(file + ".part", std::ios::binary | std::ios::trunc);
        out << text.str();
    }
    std::rename((file + ".part").c_str(), file.c_str());
}

int replaceDirty(int argc, char** argv)
{
    spoilProcessState();
    std::vector<std::string> arguments(argv + 2, argv + argc);
    Veltora::Platform::replaceProcess(arguments.front(), arguments);
    return 1;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc >= 3 && std::strcmp(argv[1], "--replace-dirty") == 0)
        return replaceDirty(argc, argv);
    record(argc, argv);
    const char* exitCode = std::getenv("CHILD_PROBE_EXIT_CODE");
    return exitCode ? std::atoi(exitCode) : 0;
}
