#pragma once

#include <optional>
#include <string>
#include <vector>

namespace Veltora::Updater
{

// What the command line asks for: the product's SKU and the resources server (empty for
// the built-in default).
struct CommandLineOptions
{
    std::string sku;
    std::string server;
};

// The arguments after "--", each wrapped in double quotes the way JUCE's String::quoted
// does it. Process-wide: the entry point reads it after the application object is gone.
extern std::vector<std::string> relaunchArguments;
// The same arguments exactly as they were given; the product is started with these.
extern std::vector<std::string> relaunchArgumentsAsGiven;
// Set by the application when the window asked for the product to be started again.
extern bool relaunchRequested;

// Parses the arguments (program name excluded). Appends the relaunch arguments to
// relaunchArguments and relaunchArgumentsAsGiven; returns nothing when the SKU is missing
// or empty.
std::optional<CommandLineOptions> parseCommandLine(const std::vector<std::string>& arguments);

// Writes the two usage lines to standard output.
void printUsage();

// The program to start again and its argument vector: the first argument as given after
// "--", and all of them as given. Nothing when no relaunch was requested or no arguments
// were given.
struct RelaunchCommand
{
    std::string program;
    std::vector<std::string> arguments;
};
std::optional<RelaunchCommand> relaunchCommand();

// Replaces the process by the product of relaunchCommand, if there is one. Ends the
// process with status 1 when the product cannot be started. Returns false when no
// relaunch takes place.
bool relaunchProduct();

// An argument wrapped in double quotes the way JUCE's String::quoted does it.
std::string quoted(const std::string& argument);

} // namespace Veltora::Updater
