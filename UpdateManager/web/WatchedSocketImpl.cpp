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

} // namespace Veltora::UpdateManager
