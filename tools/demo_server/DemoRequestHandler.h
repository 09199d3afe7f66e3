#pragma once

#include "tools/demo_server/ReleaseSource.h"
#include "tools/demo_server/TransferPolicy.h"

#include <Poco/Net/HTTPRequestHandler.h>

#include <cstdint>
#include <string>

namespace Veltora::Demo
{

// Answers one request of the demo server:
//   GET /api/resources/<type>/<sku>/<platform>/latest   the resources API (JSON)
//   GET /files/...                                        an installer, honouring
//                                                         "Range: bytes=N-" and "bytes=N-M"
// as the release source has them. Everything else gets 404. Every request is reported on one line
// of standard output.
class DemoRequestHandler : public Poco::Net::HTTPRequestHandler
{
public:
    DemoRequestHandler(ReleaseSource& source, TransferPolicy& policy);

    void handleRequest(Poco::Net::HTTPServerRequest& request,
                       Poco::Net::HTTPServerResponse& response) override;

private:
    void answerResources(const std::string& path, Poco::Net::HTTPServerRequest& request,
                         Poco::Net::HTTPServerResponse& response);
    void answerFile(const std::string& path, Poco::Net::HTTPServerRequest& request,
                    Poco::Net::HTTPServerResponse& response);
    void sendText(Poco::Net::HTTPServerResponse& response, int status, const std::string& type,
                  const std::string& body);
    void report(const Poco::Net::HTTPServerRequest& request, int status,
                const std::string& detail) const;

    ReleaseSource& source;
    TransferPolicy& policy;
};

} // namespace Veltora::Demo
