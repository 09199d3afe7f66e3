#include "updater/app/UpdaterWindow.h"

#include "updater/app/ProcessEnd.h"
#include "updater/cli/ExitStatus.h"

#include "log/CLog.h"
#include "platform/Platform.h"

#include <iostream>

namespace Veltora::Updater
{

namespace
{
constexpr int timerPeriodMilliseconds = 50;
constexpr int pauseAfterResumeMilliseconds = 200;

std::string serverOrDefault(const std::string& server)
{
    return server.empty() ? std::string(UPDATER_DEFAULT_SERVER) : server;
}
} // namespace

UpdaterWindow::SecondaryWindow::SecondaryWindow(const juce::String& title)
    : juce::DocumentWindow(title, juce::Colour(0xFFFFFFFF), juce::DocumentWindow::allButtons, true)
{
}

UpdaterWindow::SecondaryWindow::~SecondaryWindow() = default;

void UpdaterWindow::SecondaryWindow::closeButtonPressed()
{
    setVisible(false);
}

UpdaterWindow::PanelView::PanelView(UpdaterWindow& shownIn) : window(shownIn) {}

void UpdaterWindow::PanelView::showText(const std::string& text)
{
    window.panel.setText(juce::String(text));
}

void UpdaterWindow::PanelView::showProgress(double progress)
{
    window.panel.setProgress(progress);
}

void UpdaterWindow::PanelView::showButtons()
{
    window.panel.showButtons(true);
}

void UpdaterWindow::PanelView::quit()
{
    window.closeButtonPressed();
}

// Blocks the message thread, so that the next tick finds the resumed transfer under way.
void UpdaterWindow::PanelView::pauseAfterResume()
{
    juce::Thread::sleep(pauseAfterResumeMilliseconds);
}

void UpdaterWindow::PanelView::printDiagnostic(const std::string& text)
{
    std::cout << text << std::flush;
}

UpdaterWindow::UpdaterWindow(const std::string& sku, const std::string& server,
                             std::optional<UpdateManager::SigningPublicKey> signingKey)
    : juce::DocumentWindow("Auto Update", juce::Colour(0xFFD3D3D3),
                           juce::DocumentWindow::closeButton, true),
      panel(
          "main", [this] { onLaunchInstaller(); }, [this] { closeButtonPressed(); }),
      logWindow("Log window"),
      manager("", serverOrDefault(server), Platform::platformWord(), std::move(signingKey)),
      productKey{sku, "soft"}, view(*this), policy(manager, productKey, view),
      repaintsNeedForcing(Platform::isRunningUnderWine())
{
}

UpdaterWindow::~UpdaterWindow()
{
    stopTimer();
    manager.unsubscribe(this);
    clearContentComponent();
}

void UpdaterWindow::startUpdate()
{
    panel.setBounds(0, 0, 300, 100);
    policy.queryProduct();
    manager.subscribe(this);
    if (!policy.startDownload())
        abandonStart();

    setUsingNativeTitleBar(true);
    centreWithSize(panel.getWidth(), panel.getHeight());
    setVisible(true);
    setContentNonOwned(&panel, true);
    toFront(true);
    setAlwaysOnTop(true);

    startTimer(timerPeriodMilliseconds);
}

void UpdaterWindow::abandonStart()
{
    // The log engine writes what it holds first, so that enabled categories show why the
    // update could not start; nothing else is cleaned up.
    CLog::getInstance()->stopThread();
    const std::string& cause = manager.failureReport().cause();
    endProcess(ExitStatus::CannotStartOrRelaunch,
               cause.empty() ? "the update of \"" + productKey.sku + "\" could not start" : cause);
}

void UpdaterWindow::stopUpdate()
{
    stopTimer();
    manager.unsubscribe(this);
}

void UpdaterWindow::closeButtonPressed()
{
    juce::JUCEApplicationBase::quit();
}

void UpdaterWindow::forcePendingRepaints()
{
    if (!repaintsNeedForcing)
        return;
    if (juce::ComponentPeer* peer = getPeer())
        peer->performAnyPendingRepaintsNow();
}

void UpdaterWindow::timerCallback()
{
    forcePendingRepaints();
    policy.onTick();
}

void UpdaterWindow::onEvent(const UpdateManager::ProductChangedEvent&)
{
    policy.onStatusChanged();
}

void UpdaterWindow::onLaunchInstaller()
{
    if (policy.launchInstallerAgain())
        setAlwaysOnTop(false);
}

} // namespace Veltora::Updater
