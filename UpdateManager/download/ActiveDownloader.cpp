#include "UpdateManager/download/ActiveDownloader.h"

#include "log/CLog.h"
#include "log/LogCategory.h"

namespace Veltora::UpdateManager
{

ActiveDownloader::ActiveDownloader(const std::string& label)
    : name(label), thread(&ActiveDownloader::run, this)
{
}

ActiveDownloader::~ActiveDownloader()
{
    post([this] { setDone(); });
    thread.join();
}

void ActiveDownloader::post(const Job& job)
{
    jobs.push(job);
}

void ActiveDownloader::run()
{
    CLog::getInstance()->log(LogCategory::download, LogDebug, "ActiveDownloader Start Thread",
                             name);
    while (!done)
    {
        Job job;
        jobs.waitAndPop(job);
        if (job)
            job();
    }
    CLog::getInstance()->log(LogCategory::download, LogDebug, "ActiveDownloader Exit Thread", name);
}

void ActiveDownloader::setDone()
{
    done = true;
}

} // namespace Veltora::UpdateManager
