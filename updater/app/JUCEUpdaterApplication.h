#pragma once

#include "updater/app/UpdaterLookAndFeel.h"
#include "updater/app/UpdaterWindow.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Veltora::Updater
{

// The JUCE application: parses the command line, installs the look-and-feel and creates
// the window that runs the update. When JUCE shuts it down it hands the window's
// relaunch flag and whether the update completed on to relaunchRequested and
// updateCompleted for the entry point.
class JUCEUpdaterApplication : public juce::JUCEApplication
{
public:
    // The process's arguments, program name excluded, as the operating system gave them
    // (UTF-8 on POSIX).
    // With a signing key only releases signed with its private half are installed.
    JUCEUpdaterApplication(std::vector<std::string> arguments,
                           std::optional<UpdateManager::SigningPublicKey> signingKey);
    ~JUCEUpdaterApplication() override;

    const juce::String getApplicationName() override;
    const juce::String getApplicationVersion() override;
    bool moreThanOneInstanceAllowed() override;
    // Ends the process with status 1 after the usage lines when the command line is
    // rejected, and through the window when the update cannot start.
    void initialise(const juce::String& commandLine) override;
    void shutdown() override;
    void anotherInstanceStarted(const juce::String& commandLine) override;

private:
    std::vector<std::string> arguments;
    std::optional<UpdateManager::SigningPublicKey> signingKey;
    std::unique_ptr<UpdaterWindow> mainWindow;
    std::unique_ptr<UpdaterLookAndFeel> lookAndFeel;
};

} // namespace Veltora::Updater
