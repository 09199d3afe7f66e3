// A program that relaunches a product the way the updater does.
// "probe relaunch ARGS...": parses "--product-sku X --" ARGS, sets relaunchRequested and runs
// the updater's relaunch, which starts the first of ARGS (ends with 1 when that fails).
#include "updater/cli/CommandLine.h"

#include <cstring>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
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
