#pragma once

#include "UpdateManager/web/LowSpeedLimit.h"

#include <Poco/Timespan.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace Veltora::UpdateManager
{

// Keeps one request from waiting without limit, beyond the time-out of each socket
// operation. It may hold a deadline for the whole request (connecting, sending, the
// header and the body together) and a low-speed limit for its transfer. The socket of the
// request's session consults it before every wait and reports every receive to it
// (WatchedSocketImpl), which costs one clock reading per receive, nothing per byte.
//
// Used by the one thread that drives the request.
class TransferWatch
{
public:
    using Clock = std::chrono::steady_clock;

    // Applies to every request from now on; nothing turns the check off.
    void setLowSpeedLimit(const LowSpeedLimit& limit) { lowSpeed = limit; }

    // Starts watching a new request, with a deadline `wholeRequest` from now if given.
    void begin(std::optional<Clock::duration> wholeRequest);

    // The longest the next socket operation may wait: the socket's own time-out, shortened
    // to the low-speed window and to what is left of the deadline, each divided by
    // `waitsPerOperation` (a TLS operation may wait that many times). Throws
    // Poco::TimeoutException when the deadline has passed.
    Poco::Timespan allowedWait(const Poco::Timespan& socketTimeout, int waitsPerOperation);

    // Accounts for a receive of `count` bytes; 0 means the peer closed the connection.
    // Throws Poco::TimeoutException when fewer bytes than the low-speed limit arrived in
    // its window.
    void received(int count);

    // A socket operation waited what allowedWait gave it and timed out. Throws with the
    // watch's reason when the watch had shortened that wait; returns otherwise (the
    // socket's own time-out then stands).
    void waitExpired();

    // Whether a receive of this request found the connection closed by the peer.
    bool peerClosed() const { return closedByPeer; }
    // Why the watch ended the request; empty when it did not.
    const std::string& reason() const { return tripReason; }

private:
    std::string deadlineReason() const;
    [[noreturn]] void trip(const std::string& why);

    std::optional<LowSpeedLimit> lowSpeed;
    std::optional<Clock::time_point> deadline;
    std::string deadlineText;
    std::string shortenedBy;
    Clock::time_point windowStart{};
    std::int64_t windowBytes = 0;
    bool closedByPeer = false;
    std::string tripReason;
};

} // namespace Veltora::UpdateManager
