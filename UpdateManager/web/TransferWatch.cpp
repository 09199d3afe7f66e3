#include "UpdateManager/web/TransferWatch.h"

#include <Poco/Exception.h>

#include <algorithm>

namespace Veltora::UpdateManager
{
namespace
{
Poco::Timespan timespanOf(TransferWatch::Clock::duration duration)
{
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(duration).count();
    return Poco::Timespan(std::max<Poco::Timespan::TimeDiff>(micros, 1));
}

std::string secondsText(TransferWatch::Clock::duration duration)
{
    return std::to_string(std::chrono::duration_cast<std::chrono::seconds>(duration).count()) +
           " s";
}
} // namespace

void TransferWatch::begin(std::optional<Clock::duration> wholeRequest)
{
    const auto now = Clock::now();
    deadline.reset();
    if (wholeRequest)
    {
        deadline = now + *wholeRequest;
        deadlineText = secondsText(*wholeRequest);
    }
    windowStart = now;
    windowBytes = 0;
    closedByPeer = false;
    tripReason.clear();
}

Poco::Timespan TransferWatch::allowedWait(const Poco::Timespan& socketTimeout,
                                          int waitsPerOperation)
{
    Poco::Timespan wait = socketTimeout;
    shortenedBy.clear();
    if (lowSpeed && timespanOf(lowSpeed->window / waitsPerOperation) < wait)
    {
        wait = timespanOf(lowSpeed->window / waitsPerOperation);
        shortenedBy = "no byte arrived in " + secondsText(lowSpeed->window);
    }
    if (deadline)
    {
        const auto left = *deadline - Clock::now();
        if (left <= Clock::duration::zero())
            trip(deadlineReason());
        if (timespanOf(left / waitsPerOperation) < wait)
        {
            wait = timespanOf(left / waitsPerOperation);
            shortenedBy = deadlineReason();
        }
    }
    return wait;
}

void TransferWatch::received(int count)
{
    if (count <= 0)
        closedByPeer = true;
    if (!lowSpeed)
        return;
    windowBytes += std::max(count, 0);
    const auto now = Clock::now();
    if (now - windowStart < lowSpeed->window)
        return;
    if (windowBytes < lowSpeed->bytes)
        trip("fewer than " + std::to_string(lowSpeed->bytes) + " bytes arrived in " +
             secondsText(lowSpeed->window));
    windowStart = now;
    windowBytes = 0;
}

void TransferWatch::waitExpired()
{
    if (!shortenedBy.empty())
        trip(shortenedBy);
}

std::string TransferWatch::deadlineReason() const
{
    return "the request took longer than its deadline of " + deadlineText;
}

void TransferWatch::trip(const std::string& why)
{
    tripReason = why;
    throw Poco::TimeoutException(why);
}

} // namespace Veltora::UpdateManager
