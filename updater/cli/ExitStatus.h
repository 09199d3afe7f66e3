#pragma once

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

// The status of a run that reached the end of the message loop and did not relaunch.
int exitStatusAfterRun();

} // namespace Veltora::Updater
