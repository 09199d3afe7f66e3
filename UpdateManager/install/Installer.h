#pragma once

#include "UpdateManager/core/ProductDescription.h"
#include "UpdateManager/core/UpdateStatus.h"

#include <boost/filesystem/path.hpp>

#include <atomic>
#include <cstdint>
#include <string>

namespace Veltora::UpdateManager
{

// The local side of one product's update: its update status, where its installer comes
// from and lies on disk, the size of a partial download, and how to run the installer.
//
// A download is complete when a confirm file (the installer path + ".confirm", JSON with
// "size" and "checksum") records the installer file's present size.
//
// The update manager's thread calls everything except runInstaller, which runs on the
// install thread; status and progress are atomics so both threads read them whole.
class Installer
{
public:
    Installer() = default;
    virtual ~Installer() = default;
    Installer(const Installer& other);
    Installer& operator=(const Installer& other);

    // Sets source and status, then decides the status from the versions and the disk.
    void init(const std::string& url, const boost::filesystem::path& installerPath,
              UpdateStatus status, const ProductDescription& description,
              const std::string& latestVersion);
    void setSource(const std::string& url, const boost::filesystem::path& installerPath);

    bool isInitialised() const { return initialised; }
    std::string url() const { return sourceUrl; }
    boost::filesystem::path installerPath() const { return installerFile; }
    boost::filesystem::path confirmFilePath() const;
    std::int64_t downloadedBytes() const { return partialBytes; }
    double progress() const { return installProgress.load(); }
    // The exit code of the last installer run (-1: it could not be started); 0 before any.
    // Set before the status that follows the run, so it is current once that is seen.
    int exitCode() const { return installerExitCode.load(); }

    UpdateStatus getStatus() const { return status.load(); }
    void setStatus(UpdateStatus newStatus) { status.store(newStatus); }
    void setSilent(bool runSilently) { silent = runSilently; }

    // Decides status and downloadedBytes from the installed version (the description's
    // localVersion), the latest version and the installer and confirm files. Leaves a
    // running download's status alone. A confirm file that does not match the installer
    // file is deleted. An installer file that cannot be measured (a folder in its place,
    // say) throws boost::filesystem::filesystem_error, which the caller reports.
    void refreshStatus(const ProductDescription& description, const std::string& latestVersion);

    // Records the present installer file as complete: its size, `checksum` and `sha256`
    // as the verified download gave them. When `checksum` is empty both digests are
    // computed from one read of the file; an empty `sha256` beside a given checksum is
    // left out. Throws boost::property_tree::json_parser_error when the confirm file
    // cannot be written.
    void writeConfirmFile(const std::string& checksum, const std::string& sha256 = "");

    // Queues this installer on the install thread. A full queue makes the status Error.
    void startInstall();

    // Runs the installer and waits for it; install thread only. The status becomes
    // InstallComplete (exit code 0), Error (other code, or it could not start) or
    // UpdateNeeded (installer file missing).
    void runInstaller();

    // Starts the installer at `path` with the path and, when silent, "/SILENT" as its
    // arguments (on Windows: the quoted path, then /SILENT, as its command line), waits, and
    // tells whether it exited with code 0. The installer starts with default signal
    // actions, no blocked signal and only the standard descriptors.
    static bool spawnInstaller(const std::string& path, bool silent);

private:
    // spawnInstaller's work: the installer's exit code, or -1 when it could not start.
    static int runAndWait(const std::string& path, bool silent);
    void findFiles(bool& installerExists, bool& confirmExists) const;
    bool confirmMatchesInstaller();
    std::int64_t readConfirmedSize() const;
    void removeConfirmFile() const;
    void recordPartialDownload();

    bool initialised = false;
    std::string sourceUrl;
    boost::filesystem::path installerFile;
    std::int64_t partialBytes = 0;
    std::atomic<UpdateStatus> status{Error};
    bool silent = false;
    std::atomic<double> installProgress{-1.0};
    std::atomic<int> installerExitCode{0};
};

} // namespace Veltora::UpdateManager
