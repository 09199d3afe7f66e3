#include "tests/support/PlainHttpGet.h"

#include <Poco/Exception.h>
#include <Poco/Net/HTTPBasicCredentials.h>
#include <Poco/Net/HTTPClientSession.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/Net/HTTPResponse.h>
#include <Poco/StreamCopier.h>

#include <sstream>

namespace Veltora::Testing
{

PlainHttpAnswer plainHttpGet(std::uint16_t port, const std::string& path, const std::string& range,
                             const std::optional<std::pair<std::string, std::string>>& credentials)
{
    Poco::Net::HTTPClientSession session("127.0.0.1", port);
    session.setTimeout(Poco::Timespan(20, 0));
    Poco::Net::HTTPRequest request(Poco::Net::HTTPRequest::HTTP_GET, path,
                                   Poco::Net::HTTPMessage::HTTP_1_1);
    if (!range.empty())
        request.set("Range", range);
    if (credentials)
        Poco::Net::HTTPBasicCredentials(credentials->first, credentials->second)
            .authenticate(request);
    session.sendRequest(request);
    Poco::Net::HTTPResponse response;
    std::istream& body = session.receiveResponse(response);
    PlainHttpAnswer answer;
    answer.status = response.getStatus();
    answer.contentType = response.getContentType();
    answer.contentRange = response.get("Content-Range", "");
    std::ostringstream bytes;
    try
    {
        Poco::StreamCopier::copyStream(body, bytes);
    }
    catch (const Poco::Exception&)
    {
        // A body cut short: what came until then is the answer's body.
    }
    answer.body = bytes.str();
    return answer;
}

} // namespace Veltora::Testing
