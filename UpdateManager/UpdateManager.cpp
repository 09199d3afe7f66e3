#include "UpdateManager/UpdateManager.h"

#include "UpdateManager/InstallerFileName.h"
#include "UpdateManager/core/MaskedUrl.h"
#include "UpdateManager/download/FileVerification.h"
#include "UpdateManager/install/InstallThread.h"
#include "UpdateManager/scan/KnownFolders.h"
#include "UpdateManager/signing/SignatureCheck.h"
#include "UpdateManager/signing/SignedRelease.h"
#include "UpdateManager/web/CTiming.h"
#include "UpdateManager/web/ProductDescriptionFactory.h"
#include "UpdateManager/web/ResourceList.h"
#include "UpdateManager/web/WebRequest.h"
#include "log/CLog.h"
#include "log/LogCategory.h"
#include "platform/Platform.h"

#include <boost/filesystem/operations.hpp>
#include <boost/property_tree/ptree.hpp>

#include <cstdint>
#include <exception>
#include <iterator>
#include <stdexcept>
#include <vector>

namespace fs = boost::filesystem;

namespace Veltora::UpdateManager
{

namespace
{
template <typename... Pieces> void log(int level, const Pieces&... pieces)
{
    CLog::getInstance()->log(LogCategory::updateManager, level, pieces...);
}

// A product in one of these statuses keeps the installer source it was launched with.
bool isBusy(UpdateStatus status)
{
    return status == DownloadInProgress || status == DownloadPaused || status == InstallerStart ||
           status == InstallInProgress;
}

// Deletes a file that may be missing; anything but a regular file or a link is left
// alone and reported as a failure.
bool removeFileIfPresent(const fs::path& path)
{
    const fs::file_status status = fs::symlink_status(path);
    if (status.type() == fs::file_not_found)
        return true;
    if (!fs::is_regular_file(status) && !fs::is_symlink(status))
        return false;
    fs::remove(path);
    return true;
}

std::string quotedSku(const ProductKey& key)
{
    return "\"" + key.sku + "\"";
}

std::string notFoundOn(const ProductKey& key, const std::string& server)
{
    return "product " + quotedSku(key) + " not found on " + maskedUrl(server);
}

// One product's question to the server, and where its failure is reported.
struct Query
{
    const ProductKey& key;
    const std::string& server;
    const std::string& url;
    FailureReport& failures;
};

// Turns the server's answer into the product's description; the description keeps its
// previous values when the answer is not usable. An answer without any resource means the
// server does not know the product.
void adoptFirstResource(const boost::property_tree::ptree& answer, const Query& query,
                        const std::string& localVersion, ProductDescription& description)
{
    const ProductKey& key = query.key;
    const ResourceList resources(answer);
    if (!resources.isValid())
    {
        log(LogWarning, " Could not get product information for ", key.sku,
            ": invalid resource data");
        const auto listed = answer.get_child_optional("resources");
        query.failures.note(listed && listed->empty() ? notFoundOn(key, query.server)
                                                      : "the answer of " + maskedUrl(query.url) +
                                                            " is not a valid list of resources");
        return;
    }
    ProductDescription fresh;
    ProductDescriptionFactory factory;
    if (!factory.create(key.sku, key.type, localVersion, resources.firstResource(), fresh))
    {
        log(LogWarning, " Could not get product information for ", key.sku,
            ": invalid description data");
        query.failures.note("the release description of " + quotedSku(key) + " from " +
                            maskedUrl(query.server) + " cannot be used");
        return;
    }
    description = fresh;
}

// Asks the server for one product's latest release. False when the server could not be
// reached, so that the rest of the pass does not try again.
bool fetchDescription(WebRequest& request, const Query& query, const std::string& localVersion,
                      ProductDescription& description)
{
    const ProductKey& key = query.key;
    try
    {
        boost::property_tree::ptree answer;
        if (request.getJson(query.url, answer))
        {
            adoptFirstResource(answer, query, localVersion, description);
            return true;
        }
        if (request.state() == WebRequestState::ConnectionFailed)
        {
            log(LogError, " Could not connect to resources server.");
            query.failures.note(request.failure());
            return false;
        }
        log(LogError, " Could not get product information for ", key.sku,
            ": invalid response (no response or invalid json format");
        query.failures.note(request.status() == 404 ? notFoundOn(key, query.server)
                                                    : request.failure());
    }
    catch (const std::exception& error)
    {
        // An address the URL parser refuses.
        log(LogError, " Could not get product information for ", key.sku, ": ", error.what());
        query.failures.note("the server address " + maskedUrl(query.server) +
                            " cannot be used: " + error.what());
    }
    return true;
}

// "needs Linux 6.1 or later", "needs Linux older than 7", or both limits.
std::string platformNeed(const ProductDescription& description)
{
    std::string need = std::string("needs ") + Platform::osName() + " ";
    if (!description.platformMinVersion.empty())
        need += description.platformMinVersion + " or later";
    if (!description.platformMinVersion.empty() && !description.platformMaxVersion.empty())
        need += " and ";
    if (!description.platformMaxVersion.empty())
        need += "older than " + description.platformMaxVersion;
    return need;
}
} // namespace

UpdateManager::UpdateManager(const std::string& scannerDefinitionPath,
                             const std::string& serverText, const std::string& platformText,
                             std::optional<SigningPublicKey> key)
    : scanner(fs::path(scannerDefinitionPath)), server(serverText), platform(platformText),
      signingKey(std::move(key))
{
    log(LogInfo, " Initialize UpdateManager");
    std::string folder;
    if (getKnownFolderPath(Platform::KnownFolder::Downloads, folder))
        downloadFolder = folder;
}

UpdateManager::~UpdateManager()
{
    log(LogInfo, " Terminate UpdateManager");
    // Joins the install thread (after a running installer has exited) before the
    // installers it points to go away with the product table.
    InstallThread::destroyInstance();
}

void UpdateManager::addProduct(const ProductKey& key, const std::string& localVersion)
{
    processProductInfo(Versions{{key, localVersion}});
    const auto found = products.find(key);
    if (found != products.end())
        updateProductsState(found, std::next(found));
}

void UpdateManager::addProduct(const std::string& sku, const std::string& type,
                               const std::string& localVersion)
{
    addProduct(ProductKey{sku, type}, localVersion);
}

ProductInfo& UpdateManager::getProductInfo(const ProductKey& key)
{
    const auto found = products.find(key);
    if (found == products.end())
        throw std::out_of_range("invalid map<K, T> key");
    return found->second;
}

ProductInfo& UpdateManager::getProductInfo(const std::string& sku, const std::string& type)
{
    return getProductInfo(ProductKey{sku, type});
}

void UpdateManager::processProductInfo(const Versions& versions)
{
    CTiming timing("ProcessProductInfo", true);
    log(LogInfo, " Getting descriptions for all products");
    bool online = queryServer;
    WebRequest request;
    for (const auto& [key, localVersion] : versions)
    {
        auto found = products.find(key);
        if (found == products.end())
        {
            found = products.try_emplace(key).first;
            found->second.downloader =
                std::make_shared<DownloaderBackgrounder>(key.type + "/" + key.sku);
        }
        ProductDescription& description = found->second.description;
        description.sku = key.sku;
        description.type = key.type;
        description.localVersion = localVersion;
        if (!online)
            continue;
        const std::string url = server + makeResourcesPath(key.sku, key.type, platform, "latest");
        online =
            fetchDescription(request, Query{key, server, url, failures}, localVersion, description);
    }
}

void UpdateManager::updateProductsState(ProductMap::iterator first, ProductMap::iterator last)
{
    for (auto record = first; record != last; ++record)
        updateProductState(record->first, record->second);
    dumpProducts();
    EventSource<ProductListChangedEvent>::fire(ProductListChangedEvent{});
}

void UpdateManager::updateProductState(const ProductKey& key, ProductInfo& info)
{
    const ProductDescription& description = info.description;
    const fs::path path = downloadPathFor(description.permalink);
    Installer& installer = info.installer;
    if (installer.isInitialised())
    {
        const bool sourceChanged =
            installer.url() != description.permalink || installer.installerPath() != path;
        if (sourceChanged && !isBusy(installer.getStatus()))
            installer.setSource(description.permalink, path);
        applyStatusRule(info);
        return;
    }
    try
    {
        installer.init(description.permalink, path, Unknown, description, description.version);
        containStatus(info);
    }
    catch (const std::exception& error)
    {
        reportUncheckableInstaller(info, error);
    }
    fireProductChanged(key);
}

// The installer's status rule, followed by the manager's own checks of the outcome. A
// file-system error while the rule measures the installer file (a folder in its place,
// say) makes the status Error instead of leaving the tick.
void UpdateManager::applyStatusRule(ProductInfo& info)
{
    try
    {
        info.installer.refreshStatus(info.description, info.description.version);
        containStatus(info);
    }
    catch (const std::exception& error)
    {
        reportUncheckableInstaller(info, error);
    }
}

void UpdateManager::reportUncheckableInstaller(ProductInfo& info, const std::exception& error)
{
    log(LogError, " Could not check the installer file of ", info.description.sku, ": ",
        error.what());
    failures.note("cannot check the installer file " + info.installer.installerPath().string() +
                  ": " + error.what());
    info.installer.setStatus(Error);
}

// An update is only offered when it can be stored and runs on this system.
void UpdateManager::containStatus(ProductInfo& info)
{
    rejectUnusableInstallerPath(info);
    checkPlatform(info);
}

// A product that needs an update but has no place in the Downloads folder for its
// installer reports an error rather than downloading anywhere else.
void UpdateManager::rejectUnusableInstallerPath(ProductInfo& info)
{
    if (!info.installer.installerPath().empty() || info.installer.getStatus() != UpdateNeeded)
        return;
    if (downloadFolder.empty())
    {
        log(LogError, " Cannot download the installer of ", info.description.sku,
            ": no Downloads folder");
        failures.note("no Downloads folder to download the installer of \"" + info.description.sku +
                      "\" into");
    }
    else
    {
        log(LogError, " Invalid installer file name in '", maskedUrl(info.description.permalink),
            "' for ", info.description.sku, ": it must be a plain file name");
        failures.note("the installer address " + maskedUrl(info.description.permalink) +
                      " names no plain file name");
    }
    info.installer.setStatus(Error);
}

// A release that does not support this system; a platform version without digits counts
// as not supported.
void UpdateManager::checkPlatform(ProductInfo& info)
{
    if (info.installer.getStatus() != UpdateNeeded)
        return;
    try
    {
        if (!info.description.isPlatformSupported())
        {
            failures.note("release " + info.description.version + " of \"" + info.description.sku +
                          "\" " + platformNeed(info.description) + " (this is " +
                          Platform::osVersionText() + ")");
            info.installer.setStatus(OsNotSupported);
        }
    }
    catch (const std::exception& error)
    {
        log(LogError, " Invalid platform version for ", info.description.sku, " (minimum '",
            info.description.platformMinVersion, "', maximum '",
            info.description.platformMaxVersion, "'): ", error.what());
        failures.note("release " + info.description.version + " of \"" + info.description.sku +
                      "\" names a platform version that is not a version (minimum '" +
                      info.description.platformMinVersion + "', maximum '" +
                      info.description.platformMaxVersion + "')");
        info.installer.setStatus(OsNotSupported);
    }
}

void UpdateManager::refreshProduct(const ProductKey& key)
{
    Versions versions;
    if (key.type == "soft")
    {
        versions[key] = scanner.scanProduct(key.sku).second;
    }
    else
    {
        const auto known = products.find(key);
        if (known != products.end())
            versions[key] = known->second.description.localVersion;
    }
    processProductInfo(versions);
    const auto found = products.find(key);
    if (found != products.end())
        updateProductsState(found, std::next(found));
}

void UpdateManager::refreshProduct(const std::string& sku, const std::string& type)
{
    refreshProduct(ProductKey{sku, type});
}

void UpdateManager::pollStates()
{
    for (auto& [key, info] : products)
    {
        const UpdateStatus old = info.installer.getStatus();
        if (!pollProduct(key, info, old))
            continue;
        const UpdateStatus now = info.installer.getStatus();
        if (now == old)
            continue;
        log(LogInfo, "State for product ", key.sku, " (", key.type, ") switch from ",
            statusToString(old), " to ", statusToString(now));
        fireProductChanged(key);
    }
}

// One product's share of the tick. False when the product was skipped, or when the tick
// has nothing to do in its status: then a status that the install thread changes
// meanwhile is taken up by the next tick, never half-way through this one.
bool UpdateManager::pollProduct(const ProductKey& key, ProductInfo& info, UpdateStatus old)
{
    switch (old)
    {
    case DownloadInProgress:
        return pollDownload(key, info);
    case DownloadPaused:
    case InstallerAvailable:
        applyStatusRule(info);
        return true;
    case InstallerStart:
        info.installer.setStatus(InstallInProgress);
        info.installer.startInstall();
        return true;
    case InstallComplete:
        fireProductChanged(key);
        return true;
    default:
        return false;
    }
}

bool UpdateManager::pollDownload(const ProductKey& key, ProductInfo& info)
{
    if (!info.downloader)
        return false;
    switch (info.downloader->state())
    {
    case static_cast<int>(DownloadState::Idle):
        return true;
    case static_cast<int>(DownloadState::Downloading):
        EventSource<DownloadProgressEvent>::fire(
            DownloadProgressEvent{key.sku, key.type, info.downloader->progress(), false});
        return true;
    case static_cast<int>(DownloadState::Paused):
    case 3:
        info.installer.setStatus(DownloadPaused);
        return true;
    case static_cast<int>(DownloadState::Completed):
        takeCompletedDownload(key, info);
        return true;
    case static_cast<int>(DownloadState::Failed):
    {
        const std::string problem = info.downloader->problem();
        failures.note(problem.empty()
                          ? "the download of " + maskedUrl(info.installer.url()) + " failed"
                          : problem);
        info.installer.setStatus(DownloadError);
        return true;
    }
    default:
        return false;
    }
}

// Records a verified download with its confirm file. A confirm file that cannot be
// written would leave an installer that the next status rule takes for a partial
// download, so the product reports a download error instead.
void UpdateManager::takeCompletedDownload(const ProductKey& key, ProductInfo& info)
{
    try
    {
        info.installer.writeConfirmFile(info.downloader->checksum(), info.downloader->sha256());
    }
    catch (const std::exception& error)
    {
        log(LogError, " Could not write confirm file ", info.installer.confirmFilePath().string(),
            " for ", key.sku, ": ", error.what());
        failures.note("cannot write the confirm file " + info.installer.confirmFilePath().string() +
                      ": " + error.what());
        info.installer.setStatus(DownloadError);
        return;
    }
    info.installer.setStatus(InstallerAvailable);
    EventSource<DownloadProgressEvent>::fire(DownloadProgressEvent{key.sku, key.type, 100.0, true});
    if (info.installer.url() != info.description.permalink)
        refreshProduct(key);
}

void UpdateManager::processCompletedInstall()
{
    InstallThread* installThread = InstallThread::getInstance();
    if (!installThread->hasFinished())
        return;
    Installer* finished = installThread->popFinished();
    if (finished == nullptr)
        return;
    auto found = findByInstaller(finished);
    if (found == products.end())
    {
        log(LogError, " Could not find product information for ",
            finished->installerPath().string(), " to process completed installer");
        return;
    }
    const ProductKey key = found->first;
    const UpdateStatus previous = found->second.installer.getStatus();
    log(LogInfo, "Installation of ", found->second.description.name,
        found->second.installer.installerPath().string(), " complete with status ",
        statusToString(previous));
    noteInstallFailure(found->second, previous);
    fireProductChanged(key);
    refreshProduct(key);
    found = products.find(key);
    if (found == products.end())
    {
        log(LogError, "Product '", key.sku, "' disapeared after install.");
        EventSource<InstallFinishedEvent>::fire(InstallFinishedEvent{key.sku, key.type, false});
        return;
    }
    const bool success =
        previous == InstallComplete && found->second.installer.getStatus() == UpToDate;
    EventSource<InstallFinishedEvent>::fire(InstallFinishedEvent{key.sku, key.type, success});
    log(LogNotice, "Install of product '", key.type, "/", key.sku, "' ",
        success ? "succeeded" : "failed or was cancelled");
}

// The record that owns the finished installer. The install thread hands back the very
// object it was given, so the record is found by identity: two products whose installers
// happen to share a file name are never confused.
UpdateManager::ProductMap::iterator UpdateManager::findByInstaller(const Installer* finished)
{
    for (auto record = products.begin(); record != products.end(); ++record)
        if (&record->second.installer == finished)
            return record;
    return products.end();
}

bool UpdateManager::launchDownload(const ProductKey& key, bool force)
{
    const auto found = products.find(key);
    if (found == products.end())
    {
        log(LogError, "Could not find product info for ", key.sku, " while launching download");
        return false;
    }
    ProductInfo& info = found->second;
    const ProductDescription& description = info.description;
    applyStatusRule(info);
    if (info.installer.installerPath().empty())
    {
        if (downloadFolder.empty())
            log(LogError, "Can't launch download for ", key.sku, ": no Downloads folder");
        else
            log(LogError, "Can't launch download for ", key.sku,
                ": no usable installer file name in '", maskedUrl(description.permalink), "'");
        return false;
    }
    UpdateStatus status = info.installer.getStatus();
    if (status == DownloadError || force)
    {
        discardDownload(key);
        status = info.installer.getStatus();
    }
    if (!force && status != UpdateNeeded && status != DownloadPaused && status != DownloadError)
    {
        log(LogWarning, " Attempt to launch download for ", description.name, " (", key.type, "/",
            key.sku, ") but status is ", statusToString(status));
        return false;
    }
    if (!makeDownloadDirectory(info))
        return false;
    log(LogInfo, " Launch download for ", description.name, " (", key.type, "/", key.sku, ")");
    info.installer.setStatus(DownloadInProgress);
    const std::string refusal = signatureRefusal(description);
    if (!refusal.empty())
    {
        log(LogError, " Refusing release ", description.version, " of ", key.sku, ": ", refusal);
        failures.note("release " + description.version + " of " + quotedSku(key) +
                      " is refused: " + refusal);
        info.downloader->refuse();
        return true;
    }
    DownloaderBackgrounder::Data job;
    job.url = info.installer.url();
    job.path = info.installer.installerPath().string();
    job.checksum = description.checksum;
    job.sha256 = signingKey ? description.sha256 : std::string();
    job.expectedSize = static_cast<std::int64_t>(description.size);
    job.resumeOffset = info.installer.downloadedBytes();
    info.downloader->start(job);
    return true;
}

bool UpdateManager::launchDownload(const std::string& sku, const std::string& type, bool force)
{
    return launchDownload(ProductKey{sku, type}, force);
}

// Why the release must not be downloaded; empty when it may be: always without a signing
// key, otherwise only when the key confirms the signature over the release as described.
std::string UpdateManager::signatureRefusal(const ProductDescription& description) const
{
    if (!signingKey)
        return {};
    const SignedRelease release{description.sku, platform, description.version, description.size,
                                description.sha256};
    const std::optional<std::string> text = release.canonicalText();
    if (!text)
        return "the release names no usable SHA-256, SKU, platform or version to check";
    const SignatureCheck check = checkSignature(*signingKey, *text, description.signature);
    if (check == SignatureCheck::Valid)
        return {};
    return std::string("the signature is ") + describe(check);
}

// Why the installer file must not be run; empty when it may be. The SHA-256 the download
// took while writing the file is used when it is this release's; any other file (found
// on disk, or no longer of the downloaded size) is read once to take it.
std::string UpdateManager::installerRefusal(const ProductInfo& info) const
{
    if (!signingKey)
        return {};
    const std::string refusal = signatureRefusal(info.description);
    if (!refusal.empty())
        return refusal;
    const fs::path file = info.installer.installerPath();
    const std::int64_t size = fileSizeOrZero(file);
    if (size != static_cast<std::int64_t>(info.description.size))
        return "the installer file has " + std::to_string(size) + " bytes while the release has " +
               std::to_string(info.description.size);
    const bool downloaded =
        info.downloader && info.downloader->state() == static_cast<int>(DownloadState::Completed) &&
        info.downloader->sha256() == info.description.sha256;
    if (!downloaded && digestsOfFile(file).sha256 != info.description.sha256)
        return "the installer file's SHA-256 differs from the release's";
    return {};
}

// Creates the download folder when it is missing but its parent exists; a deeper missing
// folder is left for the download job to fail on.
bool UpdateManager::makeDownloadDirectory(const ProductInfo& info)
{
    const fs::path directory = info.installer.installerPath().parent_path();
    if (directory.empty())
        return true;
    try
    {
        const fs::file_type type = fs::status(directory).type();
        const bool missing = type == fs::file_not_found || type == fs::status_error;
        if (!missing || !fs::is_directory(directory.parent_path()))
            return true;
        if (!fs::create_directory(directory))
        {
            log(LogError, "Can't create download dir '", directory, "'.");
            failures.note("cannot create the download folder " + directory.string());
            return false;
        }
    }
    catch (const fs::filesystem_error& error)
    {
        log(LogError, "Can't create download dir '", directory, "': ", error.what());
        failures.note("cannot create the download folder " + directory.string() + ": " +
                      error.what());
        return false;
    }
    return true;
}

bool UpdateManager::stopDownload(const ProductKey& key, bool wait)
{
    const auto found = products.find(key);
    if (found == products.end())
    {
        log(LogError, "Could not find product info for ", key.sku, " while stopping download");
        return false;
    }
    log(LogInfo, "Stop download for ", found->second.description.name, " (", key.sku, ")");
    if (found->second.downloader)
        found->second.downloader->stop(wait);
    return true;
}

bool UpdateManager::stopDownload(const std::string& sku, const std::string& type, bool wait)
{
    return stopDownload(ProductKey{sku, type}, wait);
}

bool UpdateManager::discardDownload(const ProductKey& key)
{
    if (!stopDownload(key, true))
        return false;
    const auto found = products.find(key);
    if (found == products.end())
        return false;
    Installer& installer = found->second.installer;
    if (installer.installerPath().empty())
        return false;
    try
    {
        if (!removeFileIfPresent(installer.installerPath()) ||
            !removeFileIfPresent(installer.confirmFilePath()))
            return false;
        installer.refreshStatus(found->second.description, found->second.description.version);
    }
    catch (const std::exception&)
    {
        return false;
    }
    return true;
}

bool UpdateManager::discardDownload(const std::string& sku, const std::string& type)
{
    return discardDownload(ProductKey{sku, type});
}

bool UpdateManager::launchInstaller(const ProductKey& key, bool silent)
{
    const auto found = products.find(key);
    if (found == products.end())
    {
        log(LogWarning, "Could not find product info for ", key.sku, " while launching install");
        return false;
    }
    Installer& installer = found->second.installer;
    if (installer.getStatus() != InstallerAvailable)
    {
        log(LogWarning, "Attempt to launch installer for ", found->second.description.name, " (",
            key.sku, ") but installer is not available.");
        return false;
    }
    const std::string refusal = installerRefusal(found->second);
    if (!refusal.empty())
    {
        log(LogError, " Refusing to launch the installer of ", key.sku, ": ", refusal);
        failures.note("the installer of " + quotedSku(key) + " is refused: " + refusal);
        installer.setStatus(DownloadError);
        return false;
    }
    installer.setSilent(silent);
    installer.setStatus(InstallerStart);
    return true;
}

bool UpdateManager::launchInstaller(const std::string& sku, const std::string& type, bool silent)
{
    return launchInstaller(ProductKey{sku, type}, silent);
}

void UpdateManager::scanAll()
{
    log(LogInfo, "Create update manager data");
    processProductInfo(scanner.completeScan());
    updateProductsState(products.begin(), products.end());
}

void UpdateManager::launchAllDownloads()
{
    std::vector<ProductKey> keys;
    for (const auto& record : products)
        keys.push_back(record.first);
    for (const ProductKey& key : keys)
        launchDownload(key, false);
}

bool UpdateManager::setDownloadFolder(const std::string& path)
{
    if (path == downloadFolder)
        return true;
    for (const auto& record : products)
    {
        const UpdateStatus status = record.second.installer.getStatus();
        if (status == DownloadInProgress || status == InstallerStart || status == InstallInProgress)
            return false;
    }
    downloadFolder = path;
    updateProductsState(products.begin(), products.end());
    return true;
}

void UpdateManager::setQueryServer(bool query)
{
    queryServer = query;
}

bool UpdateManager::isDownloading(const ProductKey& key) const
{
    const auto found = products.find(key);
    return found != products.end() && found->second.downloader &&
           found->second.downloader->state() == static_cast<int>(DownloadState::Downloading);
}

bool UpdateManager::isDownloading(const std::string& sku, const std::string& type) const
{
    return isDownloading(ProductKey{sku, type});
}

void UpdateManager::dumpProducts() const
{
    if (!CLog::getInstance()->isEnabled(LogCategory::updateManager, LogDebug))
        return;
    log(LogDebug, "  Local computed data:");
    for (const auto& record : products)
    {
        const ProductDescription& description = record.second.description;
        log(LogDebug, "Data for ", description.name, ":",
            "\n  URL:            ", maskedUrl(description.permalink),
            "\n  SKU:            ", description.sku, "\n  Type:           ", description.type,
            "\n  Local version:  ", description.localVersion,
            "\n  Latest Version: ", description.version,
            "\n  Installer File: ", record.second.installer.installerPath(),
            "\n  Status:         ", statusToString(record.second.installer.getStatus()));
    }
}

boost::filesystem::path UpdateManager::downloadPathFor(const std::string& url) const
{
    const std::string name = installerFileName(url);
    if (downloadFolder.empty() || name.empty())
        return {};
    return fs::path(downloadFolder) / name;
}

// An installer that ran and did not complete the installation.
void UpdateManager::noteInstallFailure(const ProductInfo& info, UpdateStatus outcome)
{
    const std::string installer = "installer " + info.installer.installerPath().string();
    const int code = info.installer.exitCode();
    if (outcome == Error && code == -1)
        failures.note(installer + " could not be started");
    else if (outcome == Error && code != 0)
        failures.note(installer + " ended with status " + std::to_string(code));
}

void UpdateManager::fireProductChanged(const ProductKey& key)
{
    EventSource<ProductChangedEvent>::fire(ProductChangedEvent{key.sku, key.type});
}

} // namespace Veltora::UpdateManager
