#include "UpdateManager/install/InstallThread.h"

#include "UpdateManager/install/Installer.h"
#include "log/CLog.h"
#include "log/LogCategory.h"

#include <chrono>

namespace Veltora::UpdateManager
{
namespace
{
constexpr std::chrono::milliseconds pollInterval(500);
} // namespace

InstallThread::InstallThread()
{
    thread = std::thread(&InstallThread::run, this);
}

InstallThread::~InstallThread()
{
    {
        std::lock_guard<std::mutex> lock(wakeMutex);
        stopRequested.store(true);
    }
    wake.notify_one();
    if (thread.joinable())
        thread.join();
}

bool InstallThread::enqueue(Installer* installer)
{
    if (!requests.push(installer))
        return false;
    // Taking the lock orders the push before the thread's test of the queue, so the
    // wake-up cannot fall between that test and its wait.
    {
        std::lock_guard<std::mutex> lock(wakeMutex);
    }
    wake.notify_one();
    return true;
}

bool InstallThread::hasFinished()
{
    return finished.read_available() > 0;
}

Installer* InstallThread::popFinished()
{
    Installer* installer = nullptr;
    return finished.pop(installer) ? installer : nullptr;
}

void InstallThread::run()
{
    CLog::getInstance()->log(LogCategory::install, LogInfo, "Start install thread");
    while (!stopRequested.load())
    {
        runWaitingInstallers();
        waitForRequest();
    }
}

void InstallThread::runWaitingInstallers()
{
    Installer* installer = nullptr;
    while (!stopRequested.load() && requests.pop(installer))
    {
        if (installer == nullptr)
            continue;
        // Once runInstaller publishes the status, the update manager may give the installer
        // another source; the path for a later message is taken while it cannot.
        const std::string path = installer->installerPath().string();
        installer->runInstaller();
        recordFinished(installer, path);
    }
}

void InstallThread::recordFinished(Installer* installer, const std::string& path)
{
    if (finished.push(installer))
        return;
    CLog::getInstance()->log(LogCategory::install, LogError, "Cannot record the end of installer ",
                             path, ": too many finished installers are waiting");
    installer->setStatus(Error);
}

void InstallThread::waitForRequest()
{
    std::unique_lock<std::mutex> lock(wakeMutex);
    wake.wait_for(lock, pollInterval,
                  [this] { return stopRequested.load() || requests.read_available() > 0; });
}

} // namespace Veltora::UpdateManager
