// Stands in for a relaunched product or for a program that relaunches one.
// "probe relaunch OUT [ARGS...]": runs the updater's relaunch with "--" ARGS and
// relaunchRequested set; the started program is expected to be this probe again.
// "probe record OUT [ARGS...]": writes its argument vector to OUT, one per line.
#include "updater/cli/CommandLine.h"

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    if (argc >= 3 && std::strcmp(argv[1], "record") == 0)
    {
        std::ofstream out(argv[2]);
        for (int index = 0; index < argc; ++index)
            out << argv[index] << '\n';
        return 0;
    }
    if (argc >= 2 && std::strcmp(argv[1], "relaunch") == 0)
    {
        std::vector<std::string> arguments = {"--product-sku", "X", "--"};
        for (int index = 2; index < argc; ++index)
            arguments.emplace_back(argv[index]);
        if (!Veltora::Updater::parseCommandLine(arguments))
            return 2;
        Veltora::Updater::relaunchRequested = true;
        Veltora::Updater::relaunchProduct();
        return 3;
    }
    return 4;
}
