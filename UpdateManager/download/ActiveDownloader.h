#pragma once

#include "UpdateManager/download/SyncQueue.h"

#include <functional>
#include <string>
#include <thread>

namespace Veltora::UpdateManager
{

// One worker thread that runs posted jobs one after another, in the order they were
// posted. Destruction lets every job posted so far run, then ends and joins the thread.
class ActiveDownloader
{
public:
    using Job = std::function<void()>;

    // `label` names the worker in its start and exit log lines.
    explicit ActiveDownloader(const std::string& label);
    virtual ~ActiveDownloader();
    ActiveDownloader(const ActiveDownloader&) = delete;
    ActiveDownloader& operator=(const ActiveDownloader&) = delete;

    // Queues a job; callable from any thread, returns at once.
    void post(const Job& job);

private:
    void run();
    void setDone();

    std::string name;
    SyncQueue<Job> jobs;
    // Written and read only on the worker thread, by the final job and the loop. Declared
    // before the thread so that it is initialised before the thread reads it.
    bool done = false;
    std::thread thread;
};

} // namespace Veltora::UpdateManager
