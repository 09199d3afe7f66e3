#include "UpdateManager/web/ResourceList.h"

#include "tests/support/FileContent.h"
#include "tests/support/NginxSite.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <Poco/Net/HTTPBasicCredentials.h>
#include <Poco/Net/HTTPClientSession.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/Net/HTTPResponse.h>
#include <Poco/StreamCopier.h>

#include <boost/filesystem/fstream.hpp>
#include <boost/filesystem/operations.hpp>
#include <boost/property_tree/json_parser.hpp>

#include <optional>
#include <sstream>

using namespace Veltora::Testing;
namespace fs = boost::filesystem;

namespace
{
const std::string tool = UPDATER_PUBLISH;
const fs::path documentedSite = DOCUMENTED_NGINX_SITE;

struct Reply
{
    int status = 0;
    std::string contentType;
    std::string contentRange;
    std::string body;
};

// The real nginx of the system, serving the documented server block on a loopback port,
// started in the background by nginx itself and stopped at the end of the test.
class NginxSiteTest : public testing::Test
{
protected:
    NginxSiteTest()
    {
        fs::create_directories(site);
        writeFile(installer, std::string(100000, 'i') + "end");
    }

    void startNginx() { ASSERT_NO_THROW(nginx.start()); }

    Reply get(const std::string& path, const std::optional<std::string>& range = std::nullopt,
              bool withPassword = false) const
    {
        Poco::Net::HTTPClientSession session("127.0.0.1", nginx.port());
        session.setTimeout(Poco::Timespan(20, 0));
        Poco::Net::HTTPRequest request(Poco::Net::HTTPRequest::HTTP_GET, path,
                                       Poco::Net::HTTPMessage::HTTP_1_1);
        if (range)
            request.set("Range", *range);
        if (withPassword)
            Poco::Net::HTTPBasicCredentials(NginxSite::user, NginxSite::password)
                .authenticate(request);
        session.sendRequest(request);
        Poco::Net::HTTPResponse response;
        std::istream& body = session.receiveResponse(response);
        Reply reply;
        reply.status = response.getStatus();
        reply.contentType = response.getContentType();
        reply.contentRange = response.get("Content-Range", "");
        Poco::StreamCopier::copyToString(body, reply.body);
        return reply;
    }

    void publish()
    {
        const ProgramRun run = runProgram(
            tool, {"--sku", "ABC", "--platform", "linux", "--version", "2.0.0", "--name", "Synth",
                   "--base-url", nginx.url(), "--out", site.string(), installer.string()});
        ASSERT_EQ(run.status, 0) << run.standardError;
    }

    TempFolder folder;
    fs::path site = folder / "site";
    fs::path installer = folder / "Setup.exe";
    NginxSite nginx{documentedSite, site, folder / "nginx"};
};
} // namespace

TEST_F(NginxSiteTest, ServesLatestAsJsonToTheUpdatersPasswordOnly)
{
    ASSERT_NO_FATAL_FAILURE(startNginx());
    ASSERT_NO_FATAL_FAILURE(publish());
    const std::string path = "/api/resources/soft/ABC/linux/latest";

    EXPECT_EQ(get(path).status, 401);
    const Reply reply = get(path, std::nullopt, true);
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.contentType, "application/json");
    EXPECT_EQ(reply.body, readFile(site / "api/resources/soft/ABC/linux/latest"));
    std::istringstream json(reply.body);
    boost::property_tree::ptree answer;
    boost::property_tree::read_json(json, answer);
    EXPECT_TRUE(Veltora::UpdateManager::ResourceList(answer).isValid());
}

TEST_F(NginxSiteTest, ServesInstallersWithByteRanges)
{
    ASSERT_NO_FATAL_FAILURE(startNginx());
    ASSERT_NO_FATAL_FAILURE(publish());
    const std::string path = "/files/ABC/2.0.0/Setup.exe";

    const Reply whole = get(path);
    EXPECT_EQ(whole.status, 200);
    EXPECT_EQ(whole.body, readFile(installer));

    const Reply rest = get(path, std::string("bytes=99990-"));
    EXPECT_EQ(rest.status, 206);
    EXPECT_EQ(rest.contentRange, "bytes 99990-100002/100003");
    EXPECT_EQ(rest.body, readFile(installer).substr(99990));
}

TEST_F(NginxSiteTest, HidesFilesThatAreStillBeingWritten)
{
    ASSERT_NO_FATAL_FAILURE(startNginx());
    ASSERT_NO_FATAL_FAILURE(publish());
    writeFile(site / "files/ABC/2.0.0/.Setup.exe.partial-12345678", "partial");
    writeFile(site / "api/resources/soft/ABC/linux/.latest.partial-12345678", "{");
    EXPECT_EQ(get("/files/ABC/2.0.0/.Setup.exe.partial-12345678").status, 404);
    EXPECT_EQ(
        get("/api/resources/soft/ABC/linux/.latest.partial-12345678", std::nullopt, true).status,
        404);
}
