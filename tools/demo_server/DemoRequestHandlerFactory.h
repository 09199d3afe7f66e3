#pragma once

#include "tools/demo_server/ReleaseSource.h"
#include "tools/demo_server/TransferPolicy.h"

#include <Poco/Net/HTTPRequestHandlerFactory.h>

namespace Veltora::Demo
{

// Makes one DemoRequestHandler per request; all of them share the release source and the policy.
class DemoRequestHandlerFactory : public Poco::Net::HTTPRequestHandlerFactory
{
public:
    DemoRequestHandlerFactory(ReleaseSource& source, TransferPolicy& policy);
    Poco::Net::HTTPRequestHandler*
    createRequestHandler(const Poco::Net::HTTPServerRequest& request) override;

private:
    ReleaseSource& source;
    TransferPolicy& policy;
};

} // namespace Veltora::Demo
