#include "updater/app/UpdaterWindow.h"

#include "updater/app/ProcessEnd.h"
#include "updater/cli/ExitStatus.h"

#include "log/CLog.h"
#include "platform/Platform.h"

#include <iostream>
#include <stdexcept>

namespace Veltora::Updater
{

using UpdateManager::ProductInfo;

namespace
{
constexpr int timerPeriodMilliseconds = 50;
constexpr std::uint32_t maximumResumes = 5;
constexpr int pauseAfterResumeMilliseconds = 200;

const char* const downloadingText = "Downloading latest version...";
const char* const installingText = "Install in progress...";
const char* const updateFailedText = "Update failed.";
const char* const installFailedText = "Install failed.";

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

UpdaterWindow::UpdaterWindow(const std::string& sku, const std::string& server,
                             std::optional<UpdateManager::SigningPublicKey> signingKey)
    : juce::DocumentWindow("Auto Update", juce::Colour(0xFFD3D3D3),
                           juce::DocumentWindow::closeButton, true),
      panel(
          "main", [this] { onLaunchInstaller(); }, [this] { closeButtonPressed(); }),
      logWindow("Log window"),
      manager("", serverOrDefault(server), Platform::platformWord(), std::move(signingKey)),
      productKey{sku, "soft"}
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
    downloadRetries = 0;

    manager.addProduct(productKey, "0.0");
    manager.subscribe(this);

    const ProductInfo* info = findProduct();
    const int status = info == nullptr ? UpdateManager::Error : info->installer.getStatus();
    if (status == UpdateManager::Error || status == UpdateManager::Unknown ||
        status == UpdateManager::OsNotSupported)
        abandonStart();
    if (!manager.launchDownload(productKey, true))
        abandonStart();

    panel.setText(downloadingText);

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
    endProcess(ExitStatus::CannotStartOrRelaunch);
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

void UpdaterWindow::timerCallback()
{
    manager.pollStates();
    manager.processCompletedInstall();

    if (ProductInfo* info = findProduct())
    {
        switch (info->installer.getStatus())
        {
        case UpdateManager::DownloadInProgress:
            panel.setProgress(info->downloader->progress());
            break;
        case UpdateManager::InstallInProgress:
            if (info->installer.progress() >= 0.0)
                panel.setProgress(info->installer.progress());
            break;
        case UpdateManager::DownloadError:
        case UpdateManager::Error:
            if (installerLaunched)
            {
                panel.setText(installFailedText);
                panel.showButtons(true);
            }
            else
                quitRequested = true;
            break;
        default:
            break;
        }
    }
    else
        reportMissingProduct();

    if (quitRequested)
        closeButtonPressed();
}

void UpdaterWindow::onEvent(const UpdateManager::ProductChangedEvent&)
{
    ProductInfo* info = findProduct();
    if (info == nullptr)
    {
        reportMissingProduct();
        return;
    }

    const int status = info->installer.getStatus();
    switch (status)
    {
    case UpdateManager::UpdateNeeded:
    case UpdateManager::DownloadInProgress:
        downloadRetries = 0;
        panel.setText(downloadingText);
        panel.setProgress(info->downloader->progress());
        break;
    case UpdateManager::DownloadPaused:
        resumePausedDownload();
        break;
    case UpdateManager::DownloadError:
    case UpdateManager::Error:
        showFailure();
        break;
    case UpdateManager::InstallerAvailable:
        launchInstallerSilently();
        break;
    case UpdateManager::InstallInProgress:
        showInstallProgress(*info);
        break;
    case UpdateManager::InstallComplete:
        finishInstalledUpdate();
        break;
    default:
        std::cout << "Update status not handled: " << status << std::flush;
        break;
    }
}

void UpdaterWindow::onLaunchInstaller()
{
    manager.refreshProduct(productKey);
    if (manager.launchInstaller(productKey, false))
        setAlwaysOnTop(false);
}

ProductInfo* UpdaterWindow::findProduct()
{
    try
    {
        return &manager.getProductInfo(productKey);
    }
    catch (const std::out_of_range&)
    {
        return nullptr;
    }
}

void UpdaterWindow::reportMissingProduct()
{
    std::cout << "Error: Product " << productKey.sku << " not found" << std::flush;
    panel.setText(updateFailedText);
    quitRequested = true;
}

void UpdaterWindow::resumePausedDownload()
{
    if (downloadRetries < maximumResumes)
    {
        ++downloadRetries;
        manager.launchDownload(productKey, false);
        // Gives the resumed transfer a moment before the next tick looks at it.
        juce::Thread::sleep(pauseAfterResumeMilliseconds);
        return;
    }
    ++downloadRetries;
    panel.setProgress(0.0);
    panel.setText(updateFailedText);
    quitRequested = true;
}

void UpdaterWindow::showFailure()
{
    panel.setProgress(0.0);
    if (installerLaunched)
    {
        panel.setText(installFailedText);
        panel.showButtons(true);
        return;
    }
    panel.setText(updateFailedText);
    quitRequested = true;
}

void UpdaterWindow::launchInstallerSilently()
{
    if (installerLaunched)
        return;
    // Refused when the file no longer matches the signed release: the update failed.
    if (!manager.launchInstaller(productKey, true))
    {
        showFailure();
        return;
    }
    installerLaunched = true;
    panel.setText(installingText);
    panel.setProgress(-1.0);
}

void UpdaterWindow::showInstallProgress(const ProductInfo& info)
{
    panel.setText(installingText);
    if (info.installer.progress() >= 0.0)
        panel.setProgress(info.installer.progress());
}

void UpdaterWindow::finishInstalledUpdate()
{
    manager.discardDownload(productKey);
    updateCompleted = true;
    relaunchOnExit = true;
    quitRequested = true;
    closeButtonPressed();
}

} // namespace Veltora::Updater
