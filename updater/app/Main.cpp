// The process entry point: runs the JUCE application, then either replaces the process
// by the updated product or closes the log engine, whose final flush prints what is left.
#include "updater/app/JUCEUpdaterApplication.h"
#include "updater/cli/CommandLine.h"
#include "updater/cli/ExitStatus.h"

#include "log/CLog.h"
#include "platform/Platform.h"

#include <string>
#include <vector>

namespace
{
std::vector<std::string> commandLineArguments;

// JUCE owns and deletes the application object it gets from here.
juce::JUCEApplicationBase* createApplication()
{
    return new Veltora::Updater::JUCEUpdaterApplication(commandLineArguments);
}
} // namespace

int main(int argc, char* argv[])
{
    commandLineArguments.assign(argv + 1, argv + argc);
    // A server that resets the connection while a request is written must not end the
    // updater; the request fails and is handled like any other connection failure.
    Veltora::Platform::ignoreBrokenConnectionSignals();
    juce::JUCEApplicationBase::createInstance = &createApplication;
    // Its result is not the process's: a run that reaches the next line ends with 0 when the
    // product was updated and 2 when the update did not complete.
    juce::JUCEApplicationBase::main(argc, const_cast<const char**>(argv));

    Veltora::Updater::relaunchProduct();

    CLog::getInstance();
    CLog::destroyInstance();
    return Veltora::Updater::exitStatusAfterRun();
}
