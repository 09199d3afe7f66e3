#include "tools/demo_server/DemoRequestHandlerFactory.h"

#include "tools/demo_server/DemoRequestHandler.h"

namespace Veltora::Demo
{

DemoRequestHandlerFactory::DemoRequestHandlerFactory(ReleaseSource& releases,
                                                     TransferPolicy& transfers)
    : source(releases), policy(transfers)
{
}

// Poco's server takes ownership of the handler and deletes it after the request.
Poco::Net::HTTPRequestHandler*
DemoRequestHandlerFactory::createRequestHandler(const Poco::Net::HTTPServerRequest&)
{
    return new DemoRequestHandler(source, policy);
}

} // namespace Veltora::Demo
