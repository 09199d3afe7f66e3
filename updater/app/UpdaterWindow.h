#pragma once

#include "updater/app/UpdaterPanel.h"
#include "updater/policy/UpdatePolicy.h"
#include "updater/policy/UpdateView.h"

#include "UpdateManager/UpdateManager.h"
#include "UpdateManager/core/EventSource.h"
#include "UpdateManager/core/Events.h"
#include "UpdateManager/core/ProductKey.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <cstdint>
#include <optional>
#include <string>

namespace Veltora::Updater
{

// The "Auto Update" window and the controller of one product's update: it starts the
// download, resumes a paused one up to five times, launches the installer when the file
// is ready, shows progress and status, and quits the application at the end, asking for
// the product to be relaunched when the installation completed. Those decisions are
// UpdatePolicy's; the window forwards its start, events, timer and buttons to it and shows
// what it asks for. Everything runs on the JUCE message thread: startUpdate, the 50 ms
// timer, the manager's product-changed events and the panel's buttons.
class UpdaterWindow : public juce::DocumentWindow,
                      public IEventListener<UpdateManager::ProductChangedEvent>,
                      public juce::Timer
{
public:
    // The hidden "Log window": nothing shows it, and its close button only hides it.
    class SecondaryWindow : public juce::DocumentWindow
    {
    public:
        explicit SecondaryWindow(const juce::String& title);
        ~SecondaryWindow() override;
        void closeButtonPressed() override;
    };

    // An empty server means the built-in default resources server. With a signing key
    // only releases signed with its private half are installed.
    UpdaterWindow(const std::string& sku, const std::string& server,
                  std::optional<UpdateManager::SigningPublicKey> signingKey = std::nullopt);
    ~UpdaterWindow() override;

    // Queries the server and starts the download, then shows the window and starts the
    // timer. Ends the process with status 1 when the product has no usable status or the
    // download cannot be launched.
    virtual void startUpdate();
    // Stops the timer and stops listening to the manager.
    virtual void stopUpdate();

    // Quits the application: title-bar close button, "Quit", and the end of a run.
    void closeButtonPressed() override;
    // Every event makes the window act on its own product's current status.
    void onEvent(const UpdateManager::ProductChangedEvent& event) override;
    void timerCallback() override;

    // Set once the installation completed; the application reads it when it shuts down.
    bool shouldRelaunchOnExit() const { return policy.shouldRelaunch(); }
    // Whether the product was updated. A run that ends any other way (the update failed,
    // or the user quit or closed the window first) did not complete.
    bool hasCompletedUpdate() const { return policy.hasCompletedUpdate(); }
    // Why the update did not complete: the first failure the manager or the policy met, or
    // else that the run was ended first (the user closed the window).
    std::string failureCause() { return policy.failureCause(); }

private:
    // Shows the policy's requests in the panel and ends the run through JUCE.
    class PanelView : public UpdateView
    {
    public:
        explicit PanelView(UpdaterWindow& shownIn);
        void showText(const std::string& text) override;
        void showProgress(double progress) override;
        void showButtons() override;
        void quit() override;
        void pauseAfterResume() override;
        void printDiagnostic(const std::string& text) override;

    private:
        UpdaterWindow& window;
    };

    void onLaunchInstaller();
    // Ends the process with status 1, before the window is shown.
    [[noreturn]] void abandonStart();

    void forcePendingRepaints();

    UpdaterPanel panel;
    SecondaryWindow logWindow;
    UpdateManager::UpdateManager manager;
    UpdateManager::ProductKey productKey;
    PanelView view;
    UpdatePolicy policy;
    // JUCE paints a Windows window when the display reports a vertical blank, which Wine
    // never does: there the timer paints what is pending.
    const bool repaintsNeedForcing;
};

} // namespace Veltora::Updater
