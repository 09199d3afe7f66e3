#include "updater/cli/CommandLine.h"

#include "updater/cli/ExitStatus.h"

#include "platform/Platform.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>

namespace Veltora::Updater
{

std::vector<std::string> relaunchArguments;
std::vector<std::string> relaunchArgumentsAsGiven;
bool relaunchRequested = false;

std::string quoted(const std::string& argument)
{
    if (argument.empty())
        return "\"\"";
    std::string result = argument;
    if (result.front() != '"')
        result.insert(0, 1, '"');
    if (result.back() != '"')
        result.push_back('"');
    return result;
}

std::optional<CommandLineOptions> parseCommandLine(const std::vector<std::string>& arguments)
{
    CommandLineOptions options;
    bool expectSku = false;
    bool expectServer = false;
    bool relaunchMode = false;
    for (const std::string& argument : arguments)
    {
        if (relaunchMode)
        {
            relaunchArguments.push_back(quoted(argument));
            relaunchArgumentsAsGiven.push_back(argument);
        }
        else if (expectSku)
        {
            options.sku = argument;
            expectSku = false;
        }
        else if (expectServer)
        {
            options.server = argument;
            expectServer = false;
        }
        else if (argument == "--product-sku")
            expectSku = true;
        else if (argument == "--server")
            expectServer = true;
        else if (argument == "--")
            relaunchMode = true;
    }
    if (expectSku || options.sku.empty())
        return std::nullopt;
    return options;
}

void printUsage()
{
    std::cout << "Usage: updater --product-sku SKU [-- RELAUNCH_ARG [RELAUNCH_ARG ...]]"
              << std::endl;
    std::cout << "Example: updater --product-sku myproduct -- \"/Application/Veltora/My "
                 "Product.app\" myarg1 myarg2"
              << std::endl;
}

std::optional<RelaunchCommand> relaunchCommand()
{
    if (!relaunchRequested)
        return std::nullopt;
    const std::vector<std::string> arguments = relaunchArgumentsAsGiven;
    if (relaunchArguments.empty() || arguments.empty())
        return std::nullopt;
    return RelaunchCommand{arguments.front(), arguments};
}

bool relaunchProduct()
{
    const std::optional<RelaunchCommand> command = relaunchCommand();
    if (!command)
        return false;
    Platform::replaceProcess(command->program, command->arguments);
    const int error = errno;
    reportFailure("cannot start the product " + command->program + ": " + std::strerror(error));
    std::exit(ExitStatus::CannotStartOrRelaunch);
}

} // namespace Veltora::Updater
