#pragma once

#include "UpdateManager/web/TransferWatch.h"

#include <Poco/Exception.h>
#include <Poco/Net/Context.h>
#include <Poco/Net/SecureStreamSocket.h>
#include <Poco/Net/SecureStreamSocketImpl.h>
#include <Poco/Net/StreamSocket.h>
#include <Poco/Net/StreamSocketImpl.h>

#include <memory>
#include <string>
#include <utility>

namespace Veltora::UpdateManager
{

// A socket whose every connect, send and receive goes through a TransferWatch: each wait
// is shortened to what the watch allows, and each receive is reported to it. The HTTP
// session reads the header, chunk lines and body all through these calls, so the watch
// sees the whole request. Time-outs are set on the socket only when the allowed wait
// changes, so a download with a steady limit pays no extra system call.
//
// `Base` is the library's plain or TLS stream socket; `waitsPerOperation` is how many
// times one operation may wait for the socket (a TLS read may wait twice).
template <class Base> class WatchedSocketImpl : public Base
{
public:
    template <class... Arguments>
    WatchedSocketImpl(std::shared_ptr<TransferWatch> transferWatch, int waitsPerOperation,
                      Arguments&&... arguments)
        : Base(std::forward<Arguments>(arguments)...), watch(std::move(transferWatch)),
          waits(waitsPerOperation)
    {
    }

    void connect(const Poco::Net::SocketAddress& address, const Poco::Timespan& timeout) override
    {
        watched([&] { Base::connect(address, watch->allowedWait(timeout, 1)); });
    }

    int sendBytes(const void* buffer, int length, int flags = 0) override
    {
        applyWaits();
        int count = 0;
        watched([&] { count = Base::sendBytes(buffer, length, flags); });
        return count;
    }

    int receiveBytes(void* buffer, int length, int flags = 0) override
    {
        applyWaits();
        int count = 0;
        watched([&] { count = Base::receiveBytes(buffer, length, flags); });
        watch->received(count);
        return count;
    }

    void setReceiveTimeout(const Poco::Timespan& timeout) override
    {
        configuredReceive = appliedReceive = timeout;
        Base::setReceiveTimeout(timeout);
    }

    void setSendTimeout(const Poco::Timespan& timeout) override
    {
        configuredSend = appliedSend = timeout;
        Base::setSendTimeout(timeout);
    }

private:
    // Both time-outs, since a TLS send may read (the handshake) and a receive may write.
    void applyWaits()
    {
        const Poco::Timespan receiveWait = watch->allowedWait(configuredReceive, waits);
        if (receiveWait != appliedReceive)
        {
            Base::setReceiveTimeout(receiveWait);
            appliedReceive = receiveWait;
        }
        const Poco::Timespan sendWait = watch->allowedWait(configuredSend, waits);
        if (sendWait != appliedSend)
        {
            Base::setSendTimeout(sendWait);
            appliedSend = sendWait;
        }
    }

    // A wait that the watch had shortened and that ran out ends with the watch's reason.
    template <class Operation> void watched(Operation operation)
    {
        try
        {
            operation();
        }
        catch (const Poco::TimeoutException&)
        {
            watch->waitExpired();
            throw;
        }
    }

    std::shared_ptr<TransferWatch> watch;
    int waits;
    Poco::Timespan configuredReceive;
    Poco::Timespan appliedReceive;
    Poco::Timespan configuredSend;
    Poco::Timespan appliedSend;
};

// An unconnected plain socket watched by `watch`.
Poco::Net::StreamSocket watchedSocket(std::shared_ptr<TransferWatch> watch);

// An unconnected TLS socket with `context`, watched by `watch`.
Poco::Net::SecureStreamSocket watchedSecureSocket(std::shared_ptr<TransferWatch> watch,
                                                  Poco::Net::Context::Ptr context);

// A TLS socket with `context` over `tunnel`, a connection already open to the server (a
// proxy's CONNECT tunnel), watched by `watch`. The server's certificate must name
// `serverHost`, not the proxy. The handshake waits for the first send, as with
// watchedSecureSocket, and its waits are `timeout` each.
Poco::Net::SecureStreamSocket watchedSecureSocketOver(const Poco::Net::StreamSocket& tunnel,
                                                      const std::string& serverHost,
                                                      const Poco::Timespan& timeout,
                                                      std::shared_ptr<TransferWatch> watch,
                                                      Poco::Net::Context::Ptr context);

} // namespace Veltora::UpdateManager
