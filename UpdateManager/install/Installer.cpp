#include "UpdateManager/install/Installer.h"

#include "UpdateManager/download/FileVerification.h"
#include "UpdateManager/install/ConfirmFile.h"
#include "UpdateManager/install/InstallThread.h"
#include "UpdateManager/scan/Versions.h"
#include "log/CLog.h"
#include "log/LogCategory.h"
#include "platform/Platform.h"

#include <boost/filesystem/operations.hpp>
#include <boost/property_tree/exceptions.hpp>

#include <vector>

namespace Veltora::UpdateManager
{

Installer::Installer(const Installer& other)
    : initialised(other.initialised), sourceUrl(other.sourceUrl),
      installerFile(other.installerFile), partialBytes(other.partialBytes),
      status(other.status.load()), silent(other.silent),
      installProgress(other.installProgress.load()),
      installerExitCode(other.installerExitCode.load())
{
}

Installer& Installer::operator=(const Installer& other)
{
    initialised = other.initialised;
    sourceUrl = other.sourceUrl;
    installerFile = other.installerFile;
    partialBytes = other.partialBytes;
    status.store(other.status.load());
    silent = other.silent;
    installProgress.store(other.installProgress.load());
    installerExitCode.store(other.installerExitCode.load());
    return *this;
}

void Installer::init(const std::string& url, const boost::filesystem::path& installerPath,
                     UpdateStatus initialStatus, const ProductDescription& description,
                     const std::string& latestVersion)
{
    sourceUrl = url;
    installerFile = installerPath;
    status.store(initialStatus);
    partialBytes = 0;
    refreshStatus(description, latestVersion);
    initialised = true;
}

void Installer::setSource(const std::string& url, const boost::filesystem::path& installerPath)
{
    sourceUrl = url;
    installerFile = installerPath;
}

boost::filesystem::path Installer::confirmFilePath() const
{
    return boost::filesystem::path(installerFile.string() + ".confirm");
}

void Installer::refreshStatus(const ProductDescription& description,
                              const std::string& latestVersion)
{
    partialBytes = 0;
    if (status.load() == DownloadInProgress)
        return;
    const std::uint64_t localNumber = packVersion(description.localVersion);
    const std::uint64_t latestNumber = packVersion(latestVersion);
    if (latestNumber == 0)
    {
        status.store(Unknown);
        return;
    }
    if (localNumber >= latestNumber)
    {
        status.store(UpToDate);
        return;
    }
    bool installerExists = false;
    bool confirmExists = false;
    findFiles(installerExists, confirmExists);
    if (!installerExists)
    {
        partialBytes = 0;
        status.store(UpdateNeeded);
        return;
    }
    if (confirmExists && confirmMatchesInstaller())
    {
        status.store(InstallerAvailable);
        return;
    }
    recordPartialDownload();
}

void Installer::findFiles(bool& installerExists, bool& confirmExists) const
{
    try
    {
        installerExists = boost::filesystem::exists(installerFile);
        confirmExists = boost::filesystem::exists(confirmFilePath());
    }
    catch (const boost::filesystem::filesystem_error& error)
    {
        CLog::getInstance()->log(LogCategory::updateManager, LogWarning,
                                 "Failed to check file existence. (", error.what(), ")");
    }
}

// A confirm file that does not record the installer file's present, non-zero size is
// stale: it is deleted so that the file counts as a partial download.
bool Installer::confirmMatchesInstaller()
{
    const std::int64_t fileSize = fileSizeOrZero(installerFile);
    const std::int64_t recorded = readConfirmedSize();
    if (fileSize != 0 && fileSize == recorded)
        return true;
    removeConfirmFile();
    return false;
}

std::int64_t Installer::readConfirmedSize() const
{
    try
    {
        return loadConfirmFile(confirmFilePath().string()).size;
    }
    catch (const boost::property_tree::ptree_error& error)
    {
        CLog::getInstance()->log(LogCategory::updateManager, LogError,
                                 "Error reading confirm file ", confirmFilePath().string(), "(",
                                 error.what(), ")");
        return 0;
    }
}

void Installer::removeConfirmFile() const
{
    try
    {
        boost::filesystem::remove(confirmFilePath());
    }
    catch (const boost::filesystem::filesystem_error& error)
    {
        CLog::getInstance()->log(LogCategory::updateManager, LogError, "Failed to remove ",
                                 confirmFilePath().string(), "(", error.what(), ")");
    }
}

// The installer file is a partial download; the next download resumes after its bytes.
void Installer::recordPartialDownload()
{
    partialBytes = static_cast<std::int64_t>(boost::filesystem::file_size(installerFile));
    status.store(DownloadPaused);
}

void Installer::writeConfirmFile(const std::string& checksum, const std::string& sha256)
{
    const std::int64_t size = fileSizeOrZero(installerFile);
    const FileDigests digests =
        checksum.empty() ? digestsOfFile(installerFile) : FileDigests{checksum, sha256};
    saveConfirmFile(confirmFilePath().string(), ConfirmRecord{size, digests.md5, digests.sha256});
}

void Installer::startInstall()
{
    if (InstallThread::getInstance()->enqueue(this))
        return;
    CLog::getInstance()->log(LogCategory::install, LogError, "Cannot queue installer ",
                             installerFile.string(), ": too many installers are waiting");
    status.store(Error);
}

void Installer::runInstaller()
{
    CLog::getInstance()->log(LogCategory::install, LogInfo, "Run ", installerFile.string());
    installProgress.store(-1.0);
    try
    {
        if (!boost::filesystem::exists(installerFile))
        {
            CLog::getInstance()->log(LogCategory::install, LogError, installerFile,
                                     " does not exist");
            status.store(UpdateNeeded);
            return;
        }
        const int code = runAndWait(installerFile.string(), silent);
        installerExitCode.store(code);
        status.store(code == 0 ? InstallComplete : Error);
    }
    catch (const boost::filesystem::filesystem_error& error)
    {
        CLog::getInstance()->log(LogCategory::install, LogError,
                                 "Failed to run installer: ", error.what());
    }
}

bool Installer::spawnInstaller(const std::string& path, bool silent)
{
    return runAndWait(path, silent) == 0;
}

int Installer::runAndWait(const std::string& path, bool silent)
{
    CLog::getInstance()->log(LogCategory::install, LogInfo, "Open", silent ? " silent" : "",
                             " installer ", path);
    // The platform layer gives the child exactly these texts; on Windows it writes the path
    // in quotes on the command line.
    std::vector<std::string> arguments{path};
    if (silent)
        arguments.emplace_back("/SILENT");
    return Platform::spawnAndWait(path, arguments);
}

} // namespace Veltora::UpdateManager
