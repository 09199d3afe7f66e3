#pragma once

#include "tools/demo_server/ReleaseCatalog.h"
#include "tools/demo_server/TransferPolicy.h"

#include <Poco/Net/HTTPRequestHandlerFactory.h>

namespace Veltora::Demo
{

// Makes one DemoRequestHandler per request; all of them share the catalog and the policy.
class DemoRequestHandlerFactory : public Poco::Net::HTTPRequestHandlerFactory
{
public:
    DemoRequestHandlerFactory(ReleaseCatalog& catalog, TransferPolicy& policy);
    Poco::Net::HTTPRequestHandler*
    createRequestHandler(const Poco::Net::HTTPServerRequest& request) override;

private:
    ReleaseCatalog& catalog;
    TransferPolicy& policy;
};

} // namespace Veltora::Demo
