#pragma once

#include <string>

namespace Veltora::Updater
{

// What the updater's exit status tells a calling script.
namespace ExitStatus
{
// The product was updated (and, when arguments were given, the updater was replaced by it).
constexpr int Updated = 0;
// The command line was rejected, the update could not start, or the product could not be
// started again.
constexpr int CannotStartOrRelaunch = 1;
// An update was started and did not complete: it failed, or the user ended it first.
constexpr int NotCompleted = 2;
} // namespace ExitStatus

// Set by the application when it shuts down after the window completed the installation.
// Process-wide, like relaunchRequested: the entry point reads it after the application
// object is gone.
extern bool updateCompleted;
// Why the update did not complete, set with updateCompleted when it did not.
extern std::string incompleteRunCause;

// The status of a run that reached the end of the message loop and did not relaunch.
int exitStatusAfterRun();

// Explains a non-zero exit status in one line on standard error, "updater: " + `cause`,
// whatever the log settings are: the user, or the program that started the updater, sees
// why it failed. Every road to a non-zero status passes here once.
void reportFailure(const std::string& cause);

} // namespace Veltora::Updater
