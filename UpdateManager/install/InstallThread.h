#pragma once

#include "log/CSingleton.h"

#include <boost/lockfree/spsc_queue.hpp>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace Veltora::UpdateManager
{

class Installer;

// The one thread that runs installers, one at a time. The update manager's thread queues
// installers with enqueue and takes them back, once run, with popFinished; the rings hold
// non-owning pointers and need no lock. The thread wakes at once for a queued installer
// and otherwise looks at its queue every 500 ms.
//
// Destruction waits for a running installer; installers still queued are not run.
class InstallThread : public CSingleton<InstallThread>
{
public:
    ~InstallThread() override;
    InstallThread(const InstallThread&) = delete;
    InstallThread& operator=(const InstallThread&) = delete;

    // Queues an installer; false when 32 are already waiting.
    bool enqueue(Installer* installer);

    bool hasFinished();

    // The installer that finished first, or null.
    Installer* popFinished();

private:
    friend class CSingleton<InstallThread>;
    InstallThread();

    using Ring = boost::lockfree::spsc_queue<Installer*, boost::lockfree::capacity<32>>;

    void run();
    void runWaitingInstallers();
    void recordFinished(Installer* installer, const std::string& path);
    void waitForRequest();

    std::thread thread;
    std::atomic<bool> stopRequested{false};
    Ring requests;
    Ring finished;
    std::mutex wakeMutex;
    std::condition_variable wake;
};

} // namespace Veltora::UpdateManager
