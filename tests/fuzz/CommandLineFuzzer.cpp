// The command line: the fuzzer's bytes cut at NUL bytes are the arguments.

#include "tests/fuzz/FuzzSupport.h"
#include "updater/cli/CommandLine.h"

#include <algorithm>

using namespace Veltora::Updater;
using Veltora::Fuzzing::fuzzCheck;

namespace
{
void resetRelaunchState()
{
    relaunchArguments.clear();
    relaunchArgumentsAsGiven.clear();
    relaunchRequested = false;
}

// The relaunch arguments are everything after the first "--" that stands where an option
// may stand (not as the value of --product-sku or --server).
std::vector<std::string> argumentsAfterSeparator(const std::vector<std::string>& arguments)
{
    for (std::size_t index = 0; index < arguments.size(); ++index)
    {
        const std::string& argument = arguments[index];
        if (argument == "--product-sku" || argument == "--server")
            ++index;
        else if (argument == "--")
            return std::vector<std::string>(arguments.begin() + index + 1, arguments.end());
    }
    return {};
}

void checkQuoted(const std::vector<std::string>& asGiven,
                 const std::vector<std::string>& quotedOnes)
{
    fuzzCheck(asGiven.size() == quotedOnes.size(), "each relaunch argument has its quoted form");
    for (std::size_t index = 0; index < asGiven.size(); ++index)
    {
        const std::string& text = quotedOnes[index];
        fuzzCheck(!text.empty() && text.front() == '"' && text.back() == '"' &&
                      text.find(asGiven[index]) != std::string::npos,
                  "a quoted argument is the argument inside double quotes");
    }
}

void checkRelaunchCommand(const std::vector<std::string>& asGiven)
{
    relaunchRequested = true;
    const std::optional<RelaunchCommand> command = relaunchCommand();
    fuzzCheck(command.has_value() == !asGiven.empty(), "arguments give a command to start");
    if (command)
        fuzzCheck(command->program == asGiven.front() && command->arguments == asGiven,
                  "the product is started with the arguments as given");
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    resetRelaunchState();
    std::vector<std::string> arguments = Veltora::Fuzzing::textsSeparatedByNul(data, size);
    if (size == 0)
        arguments.clear();
    const std::optional<CommandLineOptions> options = parseCommandLine(arguments);
    if (options)
        fuzzCheck(!options->sku.empty(), "an accepted command line names a SKU");
    const std::vector<std::string> expected = argumentsAfterSeparator(arguments);
    fuzzCheck(relaunchArgumentsAsGiven == expected, "the relaunch arguments are those after --");
    checkQuoted(relaunchArgumentsAsGiven, relaunchArguments);
    checkRelaunchCommand(relaunchArgumentsAsGiven);
    resetRelaunchState();
    return 0;
}
