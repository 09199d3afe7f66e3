#include "UpdateManager/web/WatchedSocketImpl.h"

namespace Veltora::UpdateManager
{
namespace
{
// The library offers a TLS socket over a given implementation only to derived classes.
class SecureSocketOver : public Poco::Net::SecureStreamSocket
{
public:
    explicit SecureSocketOver(Poco::Net::SocketImpl* implementation)
        : SecureStreamSocket(implementation)
    {
    }
};

// TLS started on a connection that is already open. The library starts it only from
// inside its socket classes (connectSSL is protected).
class WatchedTunnelSocketImpl : public WatchedSocketImpl<Poco::Net::SecureStreamSocketImpl>
{
public:
    WatchedTunnelSocketImpl(std::shared_ptr<TransferWatch> transferWatch,
                            Poco::Net::StreamSocketImpl* tunnel, Poco::Net::Context::Ptr context,
                            const std::string& serverHost)
        : WatchedSocketImpl(std::move(transferWatch), 2, tunnel, std::move(context))
    {
        setPeerHostName(serverHost);
        setLazyHandshake(true);
        connectSSL();
    }
};
} // namespace

// The sockets take ownership of their reference-counted implementations, which the
// library's interface hands over as plain pointers.
Poco::Net::StreamSocket watchedSocket(std::shared_ptr<TransferWatch> watch)
{
    return Poco::Net::StreamSocket(
        new WatchedSocketImpl<Poco::Net::StreamSocketImpl>(std::move(watch), 1));
}

Poco::Net::SecureStreamSocket watchedSecureSocket(std::shared_ptr<TransferWatch> watch,
                                                  Poco::Net::Context::Ptr context)
{
    return SecureSocketOver(new WatchedSocketImpl<Poco::Net::SecureStreamSocketImpl>(
        std::move(watch), 2, std::move(context)));
}

Poco::Net::SecureStreamSocket watchedSecureSocketOver(const Poco::Net::StreamSocket& tunnel,
                                                      const std::string& serverHost,
                                                      const Poco::Timespan& timeout,
                                                      std::shared_ptr<TransferWatch> watch,
                                                      Poco::Net::Context::Ptr context)
{
    auto* plain = dynamic_cast<Poco::Net::StreamSocketImpl*>(tunnel.impl());
    if (plain == nullptr)
        throw Poco::InvalidArgumentException("a TLS tunnel needs a plain stream socket");
    SecureSocketOver socket(
        new WatchedTunnelSocketImpl(std::move(watch), plain, std::move(context), serverHost));
    // A session sets its time-outs on the sockets it connects itself; this one it is given.
    socket.setReceiveTimeout(timeout);
    socket.setSendTimeout(timeout);
    return socket;
}

} // namespace Veltora::UpdateManager
