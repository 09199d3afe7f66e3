#pragma once

#include "updater/policy/UpdateView.h"

#include "UpdateManager/UpdateManager.h"
#include "UpdateManager/core/ProductKey.h"

#include <cstdint>
#include <string>

namespace Veltora::Updater
{

// The decisions that drive one product's update from start to relaunch, on each status the
// manager reports: start the download, resume a paused one at most five times, launch the
// installer silently once its file is ready, show failures, quit, and ask for the product
// to be relaunched after a completed installation. The window forwards its start, its
// events, its timer and its "Launch Installer" button here and shows what the policy asks
// of its UpdateView; tests drive it against a real manager without a display.
class UpdatePolicy
{
public:
    static constexpr std::uint32_t maximumResumes = 5;

    static constexpr const char* downloadingText = "Downloading latest version...";
    static constexpr const char* installingText = "Install in progress...";
    static constexpr const char* updateFailedText = "Update failed.";
    static constexpr const char* installFailedText = "Install failed.";

    UpdatePolicy(UpdateManager::UpdateManager& manager, UpdateManager::ProductKey key,
                 UpdateView& view);

    // Asks the server for the product, with "0.0" as its installed version.
    void queryProduct();
    // Starts the forced download and shows the downloading text. False when the product
    // has no usable status or the download cannot be launched: the update cannot start.
    bool startDownload();
    // A product-changed event: acts on the product's current status, whatever the event
    // names.
    void onStatusChanged();
    // The periodic tick: polls the manager, follows the progress, and ends the run when a
    // quit was asked for.
    void onTick();
    // The "Launch Installer" button: refreshes the product and launches its installer, not
    // silently. True when the installer was launched.
    bool launchInstallerAgain();

    // Set once the installation completed: the product is to be started again.
    bool shouldRelaunch() const { return relaunch; }
    bool hasCompletedUpdate() const { return updateCompleted; }
    // Why the update did not complete: the first failure noted by the manager or here, or
    // else that the run was ended first.
    std::string failureCause();

private:
    UpdateManager::ProductInfo* findProduct();
    void reportMissingProduct();
    void resumePausedDownload();
    void noteAbandonedDownload(const UpdateManager::ProductInfo& info);
    void showFailure();
    void launchInstallerSilently();
    void showInstallProgress(const UpdateManager::ProductInfo& info);
    void finishInstalledUpdate();

    UpdateManager::UpdateManager& manager;
    UpdateManager::ProductKey productKey;
    UpdateView& view;
    bool quitRequested = false;
    bool relaunch = false;
    bool installerLaunched = false;
    std::uint32_t downloadRetries = 0;
    bool updateCompleted = false;
};

} // namespace Veltora::Updater
