#include "updater/app/JUCEUpdaterApplication.h"

#include "updater/app/ProcessEnd.h"
#include "updater/cli/CommandLine.h"
#include "updater/cli/ExitStatus.h"

#include <optional>
#include <utility>

namespace Veltora::Updater
{

JUCEUpdaterApplication::JUCEUpdaterApplication(
    std::vector<std::string> commandLineArguments,
    std::optional<UpdateManager::SigningPublicKey> releaseSigningKey)
    : arguments(std::move(commandLineArguments)), signingKey(std::move(releaseSigningKey))
{
}

// The look-and-feel goes first, then a window that shutdown did not already delete.
JUCEUpdaterApplication::~JUCEUpdaterApplication()
{
    lookAndFeel.reset();
    mainWindow.reset();
}

const juce::String JUCEUpdaterApplication::getApplicationName()
{
    return "Updater";
}

// The build passes the project's version, so it is written in one place only.
const juce::String JUCEUpdaterApplication::getApplicationVersion()
{
    return UPDATER_VERSION;
}

bool JUCEUpdaterApplication::moreThanOneInstanceAllowed()
{
    return true;
}

void JUCEUpdaterApplication::initialise(const juce::String&)
{
    const std::optional<CommandLineOptions> options = parseCommandLine(arguments);
    if (!options)
    {
        printUsage();
        endProcess(ExitStatus::CannotStartOrRelaunch,
                   "no product given: --product-sku SKU is required (usage above)");
    }

    lookAndFeel = std::make_unique<UpdaterLookAndFeel>();
    juce::LookAndFeel::setDefaultLookAndFeel(lookAndFeel.get());

    mainWindow = std::make_unique<UpdaterWindow>(options->sku, options->server, signingKey);
    mainWindow->startUpdate();
}

void JUCEUpdaterApplication::shutdown()
{
    if (mainWindow != nullptr)
    {
        relaunchRequested = mainWindow->shouldRelaunchOnExit();
        updateCompleted = mainWindow->hasCompletedUpdate();
        incompleteRunCause = mainWindow->failureCause();
        mainWindow.reset();
    }
    juce::LookAndFeel::setDefaultLookAndFeel(nullptr);
}

void JUCEUpdaterApplication::anotherInstanceStarted(const juce::String&) {}

} // namespace Veltora::Updater
