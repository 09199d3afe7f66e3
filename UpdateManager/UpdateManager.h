#pragma once

#include "UpdateManager/ProductInfo.h"
#include "UpdateManager/core/EventSource.h"
#include "UpdateManager/core/Events.h"
#include "UpdateManager/core/FailureReport.h"
#include "UpdateManager/core/ProductKey.h"
#include "UpdateManager/core/UpdateStatus.h"
#include "UpdateManager/scan/Scanner.h"
#include "UpdateManager/signing/SigningPublicKey.h"

#include <boost/filesystem/path.hpp>

#include <exception>
#include <map>
#include <optional>
#include <string>

namespace Veltora::UpdateManager
{

// The update engine: keeps the product table, asks the resources server for each
// product's latest release, derives every product's status, and on a periodic tick turns
// what the download workers and the install thread report into status changes and
// events. Every operation runs on the caller's thread (the window's message thread); the
// manager starts no thread of its own and takes no lock. Events are fired synchronously,
// so a listener may call back into the manager from its onEvent.
class UpdateManager : public EventSource<ProductListChangedEvent>,
                      public EventSource<ProductChangedEvent>,
                      public EventSource<DownloadProgressEvent>,
                      public EventSource<InstallFinishedEvent>
{
public:
    using ProductMap = std::map<ProductKey, ProductInfo>;
    using Versions = std::map<ProductKey, std::string>;

    // The scanner is built from the definition file (an empty path gives a scanner that
    // knows no product); `server` is a host with an optional ":port"; `platform` is the
    // word sent to the resources server (Platform::platformWord() in the application).
    // The download folder is the user's Downloads folder, empty when it cannot be found
    // (then every product that needs an update reports an error).
    //
    // With a `signingKey` only signed releases are installed: a download starts only for
    // a release whose signature the key confirms (else the download job fails at once,
    // before any request), the download must match the signed size and SHA-256, and an
    // installer is launched only when the file on disk still does. Without one the
    // release's SHA-256 and signature are ignored.
    UpdateManager(const std::string& scannerDefinitionPath, const std::string& server,
                  const std::string& platform,
                  std::optional<SigningPublicKey> signingKey = std::nullopt);
    // Stops the install thread (waiting for a running installer) and every download
    // worker (waiting for its current chunk).
    ~UpdateManager() override;
    UpdateManager(const UpdateManager&) = delete;
    UpdateManager& operator=(const UpdateManager&) = delete;

    using EventSource<ProductListChangedEvent>::subscribe;
    using EventSource<ProductChangedEvent>::subscribe;
    using EventSource<DownloadProgressEvent>::subscribe;
    using EventSource<InstallFinishedEvent>::subscribe;
    using EventSource<ProductListChangedEvent>::unsubscribe;
    using EventSource<ProductChangedEvent>::unsubscribe;
    using EventSource<DownloadProgressEvent>::unsubscribe;
    using EventSource<InstallFinishedEvent>::unsubscribe;

    // Queries the server for the product, taking `localVersion` as its installed version,
    // and derives its status.
    void addProduct(const ProductKey& key, const std::string& localVersion);
    void addProduct(const std::string& sku, const std::string& type,
                    const std::string& localVersion);

    // Throws std::out_of_range ("invalid map<K, T> key") for an unknown product.
    ProductInfo& getProductInfo(const ProductKey& key);
    ProductInfo& getProductInfo(const std::string& sku, const std::string& type);

    // Re-reads the installed version (scanned for "soft" products) and the server data of
    // one product, then applies the status rule.
    void refreshProduct(const ProductKey& key);
    void refreshProduct(const std::string& sku, const std::string& type);

    // The state tick, called every 50 ms: polls the download workers, moves launched
    // installers onto the install thread and fires the resulting events.
    void pollStates();
    // Takes back at most one finished installation from the install thread, refreshes its
    // product and fires InstallFinishedEvent.
    void processCompletedInstall();

    // True when a download job was handed to the product's worker. Forced: any earlier
    // download of the product is discarded first, whatever its status.
    bool launchDownload(const ProductKey& key, bool force);
    bool launchDownload(const std::string& sku, const std::string& type, bool force);
    // Asks the product's worker to stop; with `wait`, returns when its job has ended.
    // True when the product exists. The status is left to the next tick.
    bool stopDownload(const ProductKey& key, bool wait);
    bool stopDownload(const std::string& sku, const std::string& type, bool wait);
    // Stops the download, deletes the installer file and its confirm file, and applies
    // the status rule again. True when all of that succeeded.
    bool discardDownload(const ProductKey& key);
    bool discardDownload(const std::string& sku, const std::string& type);
    // Accepted only in InstallerAvailable: the status becomes InstallerStart and the next
    // tick queues the installer on the install thread. With a signing key, an installer
    // file that no longer matches the signed release is refused: the status becomes
    // DownloadError and the result is false.
    bool launchInstaller(const ProductKey& key, bool silent);
    bool launchInstaller(const std::string& sku, const std::string& type, bool silent);

    // Scans every product the scanner knows and processes them all.
    void scanAll();
    void launchAllDownloads();
    // Refused (false) while any product downloads or installs.
    bool setDownloadFolder(const std::string& path);
    void setQueryServer(bool query);
    bool isDownloading(const ProductKey& key) const;
    bool isDownloading(const std::string& sku, const std::string& type) const;

    // Where the installer named by `url` goes: the download folder joined with the part
    // of the URL after its last "/". That name must be a plain file name; one that is
    // empty, "." or "..", or holds a path separator gives an empty path, which the
    // manager never creates, measures, runs or deletes. So does an empty download folder:
    // without a Downloads folder nothing is downloaded.
    boost::filesystem::path downloadPathFor(const std::string& url) const;

    // The first failure met by any product: a server that cannot be reached or does not
    // know the product, a release for another system, a download or installer that
    // failed. The window adds the failures it decides on itself.
    FailureReport& failureReport() { return failures; }

private:
    void processProductInfo(const Versions& versions);
    void updateProductsState(ProductMap::iterator first, ProductMap::iterator last);
    void updateProductState(const ProductKey& key, ProductInfo& info);
    void dumpProducts() const;

    bool pollProduct(const ProductKey& key, ProductInfo& info, UpdateStatus old);
    bool pollDownload(const ProductKey& key, ProductInfo& info);
    void takeCompletedDownload(const ProductKey& key, ProductInfo& info);

    void applyStatusRule(ProductInfo& info);
    void reportUncheckableInstaller(ProductInfo& info, const std::exception& error);
    void containStatus(ProductInfo& info);
    void rejectUnusableInstallerPath(ProductInfo& info);
    void checkPlatform(ProductInfo& info);
    bool makeDownloadDirectory(const ProductInfo& info);
    std::string signatureRefusal(const ProductDescription& description) const;
    std::string installerRefusal(const ProductInfo& info) const;
    ProductMap::iterator findByInstaller(const Installer* finished);

    void fireProductChanged(const ProductKey& key);
    void noteInstallFailure(const ProductInfo& info, UpdateStatus outcome);

    Scanner scanner;
    std::string server;
    ProductMap products;
    bool queryServer = true;
    std::string platform;
    std::string downloadFolder;
    std::optional<SigningPublicKey> signingKey;
    FailureReport failures;
};

} // namespace Veltora::UpdateManager
