#include "updater/policy/UpdatePolicy.h"

#include "UpdateManager/core/MaskedUrl.h"

#include <stdexcept>
#include <utility>

namespace Veltora::Updater
{

using UpdateManager::ProductInfo;

UpdatePolicy::UpdatePolicy(UpdateManager::UpdateManager& updateManager,
                           UpdateManager::ProductKey key, UpdateView& updateView)
    : manager(updateManager), productKey(std::move(key)), view(updateView)
{
}

void UpdatePolicy::queryProduct()
{
    downloadRetries = 0;
    manager.addProduct(productKey, "0.0");
}

bool UpdatePolicy::startDownload()
{
    const ProductInfo* info = findProduct();
    const int status = info == nullptr ? UpdateManager::Error : info->installer.getStatus();
    if (status == UpdateManager::Error || status == UpdateManager::Unknown ||
        status == UpdateManager::OsNotSupported)
        return false;
    if (!manager.launchDownload(productKey, true))
        return false;
    view.showText(downloadingText);
    return true;
}

void UpdatePolicy::onTick()
{
    manager.pollStates();
    manager.processCompletedInstall();

    if (ProductInfo* info = findProduct())
    {
        switch (info->installer.getStatus())
        {
        case UpdateManager::DownloadInProgress:
            view.showProgress(info->downloader->progress());
            break;
        case UpdateManager::InstallInProgress:
            if (info->installer.progress() >= 0.0)
                view.showProgress(info->installer.progress());
            break;
        case UpdateManager::DownloadError:
        case UpdateManager::Error:
            if (installerLaunched)
            {
                view.showText(installFailedText);
                view.showButtons();
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
        view.quit();
}

void UpdatePolicy::onStatusChanged()
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
        view.showText(downloadingText);
        view.showProgress(info->downloader->progress());
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
        view.printDiagnostic("Update status not handled: " + std::to_string(status));
        break;
    }
}

bool UpdatePolicy::launchInstallerAgain()
{
    manager.refreshProduct(productKey);
    return manager.launchInstaller(productKey, false);
}

std::string UpdatePolicy::failureCause()
{
    const std::string& cause = manager.failureReport().cause();
    return cause.empty() ? "the update of \"" + productKey.sku + "\" was ended before it completed"
                         : cause;
}

ProductInfo* UpdatePolicy::findProduct()
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

void UpdatePolicy::reportMissingProduct()
{
    manager.failureReport().note("product \"" + productKey.sku + "\" not found");
    view.printDiagnostic("Error: Product " + productKey.sku + " not found");
    view.showText(updateFailedText);
    quitRequested = true;
}

void UpdatePolicy::resumePausedDownload()
{
    if (downloadRetries < maximumResumes)
    {
        ++downloadRetries;
        manager.launchDownload(productKey, false);
        view.pauseAfterResume();
        return;
    }
    ++downloadRetries;
    if (const ProductInfo* info = findProduct())
        noteAbandonedDownload(*info);
    view.showProgress(0.0);
    view.showText(updateFailedText);
    quitRequested = true;
}

void UpdatePolicy::noteAbandonedDownload(const ProductInfo& info)
{
    const std::string lastProblem = info.downloader->problem();
    manager.failureReport().note("the download of " +
                                 UpdateManager::maskedUrl(info.installer.url()) + " was cut off " +
                                 std::to_string(downloadRetries) + " times" +
                                 (lastProblem.empty() ? "" : ", the last time: " + lastProblem));
}

void UpdatePolicy::showFailure()
{
    view.showProgress(0.0);
    if (installerLaunched)
    {
        view.showText(installFailedText);
        view.showButtons();
        return;
    }
    view.showText(updateFailedText);
    quitRequested = true;
}

void UpdatePolicy::launchInstallerSilently()
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
    view.showText(installingText);
    view.showProgress(-1.0);
}

void UpdatePolicy::showInstallProgress(const ProductInfo& info)
{
    view.showText(installingText);
    if (info.installer.progress() >= 0.0)
        view.showProgress(info.installer.progress());
}

void UpdatePolicy::finishInstalledUpdate()
{
    manager.discardDownload(productKey);
    updateCompleted = true;
    relaunch = true;
    quitRequested = true;
    view.quit();
}

} // namespace Veltora::Updater
