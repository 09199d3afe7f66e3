// Redirects followed by WebRequest, against the loopback test server: the statuses, how
// Location is resolved, the limits of a chain, and what never crosses a redirect.
#include "UpdateManager/web/WebRequest.h"

#include "tests/support/HttpTestServer.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TestCertificates.h"
#include "tests/web/WebTestHelpers.h"

#include <boost/property_tree/ptree.hpp>
#include <gtest/gtest.h>

#include <string>

using namespace Veltora::UpdateManager;
using namespace Veltora::Testing;

namespace
{

HttpReply redirectTo(const std::string& location, int status = 302)
{
    HttpReply reply = HttpReply::withStatus(status, "moved");
    reply.headers.emplace_back("Location", location);
    return reply;
}

// "/hop0" redirects to "/hop1" and so on; "/hop<count>" serves `content`.
void serveChain(HttpTestServer& server, int count, const std::string& content)
{
    for (int hop = 0; hop < count; ++hop)
        server.reply("/hop" + std::to_string(hop), redirectTo("/hop" + std::to_string(hop + 1)));
    server.serveContent("/hop" + std::to_string(count), content);
}

struct LocationCase
{
    const char* name;
    int status;
    // The Location sent by "/releases/latest/Setup.exe"; "URL" stands for the server's
    // "http://127.0.0.1:<port>".
    std::string location;
};

void PrintTo(const LocationCase& row, std::ostream* out)
{
    *out << row.name;
}

class RedirectLocation : public ::testing::TestWithParam<LocationCase>
{
};

TEST_P(RedirectLocation, IsFollowedToTheBytes)
{
    const LocationCase& row = GetParam();
    HttpTestServer server;
    const std::string content = bytesOf(3 * WebRequest::chunkSize + 17);
    server.serveContent("/mirror/files/Setup-1.2.exe", content);
    std::string location = row.location;
    if (location.rfind("URL", 0) == 0)
        location.replace(0, 3, server.url(""));
    server.reply("/releases/latest/Setup.exe", redirectTo(location, row.status));
    WebRequest request;
    LogCapture log({"web"});

    const std::string body = downloadText(request, server.url("/releases/latest/Setup.exe"));

    EXPECT_EQ(request.state(), WebRequestState::Complete);
    EXPECT_EQ(request.status(), 200);
    EXPECT_TRUE(body == content);
    EXPECT_EQ(server.requestCount(), 2u);
    EXPECT_EQ(server.lastRequest().target, "/mirror/files/Setup-1.2.exe");
    EXPECT_NE(log.text().find("Redirect (" + std::to_string(row.status) + ") from " +
                              server.url("/releases/latest/Setup.exe") + " to " +
                              server.url("/mirror/files/Setup-1.2.exe")),
              std::string::npos)
        << log.text();
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(WebRequest, RedirectLocation, ::testing::Values(
    LocationCase{"MovedPermanently",     301, "URL/mirror/files/Setup-1.2.exe"},
    LocationCase{"Found",                302, "URL/mirror/files/Setup-1.2.exe"},
    LocationCase{"SeeOther",             303, "URL/mirror/files/Setup-1.2.exe"},
    LocationCase{"TemporaryRedirect",    307, "URL/mirror/files/Setup-1.2.exe"},
    LocationCase{"PermanentRedirect",    308, "URL/mirror/files/Setup-1.2.exe"},
    LocationCase{"AbsolutePath",         302, "/mirror/files/Setup-1.2.exe"},
    LocationCase{"RelativePath",         302, "../../mirror/files/Setup-1.2.exe"},
    LocationCase{"FragmentDropped",      307, "/mirror/files/Setup-1.2.exe#part"}),
    [](const ::testing::TestParamInfo<LocationCase>& caseInfo) { return caseInfo.param.name; });
// clang-format on

TEST(Redirect, TheResourcesQueryFollowsItToo)
{
    HttpTestServer server;
    server.reply("/api/resources/soft/ABC/linux/latest", redirectTo("/static/ABC.json", 301));
    server.serveJson("/static/ABC.json", R"({"total":"1","resources":[{"name":"x"}]})");
    WebRequest request;
    boost::property_tree::ptree tree;

    ASSERT_TRUE(request.getJson(server.url("/api/resources/soft/ABC/linux/latest"), tree));
    EXPECT_EQ(tree.get<std::string>("total"), "1");
}

TEST(Redirect, AChainOfFiveEndsAtTheBytes)
{
    HttpTestServer server;
    const std::string content = bytesOf(5000);
    serveChain(server, 5, content);
    WebRequest request;

    EXPECT_TRUE(downloadText(request, server.url("/hop0")) == content);
    EXPECT_EQ(request.state(), WebRequestState::Complete);
    EXPECT_EQ(server.requestCount(), 6u);
}

struct RefusedCase
{
    const char* name;
    void (*serve)(HttpTestServer&);
    const char* reason;
    std::size_t requestsMade;
};

void PrintTo(const RefusedCase& row, std::ostream* out)
{
    *out << row.name;
}

class RefusedRedirect : public ::testing::TestWithParam<RefusedCase>
{
};

TEST_P(RefusedRedirect, FailsTheRequestWithTheReasonLogged)
{
    const RefusedCase& row = GetParam();
    HttpTestServer server;
    row.serve(server);
    WebRequest request;
    LogCapture log({"web"});

    const std::string body = downloadText(request, server.url("/hop0"));

    EXPECT_FALSE(request.isOk());
    EXPECT_EQ(request.state(), WebRequestState::Pending);
    EXPECT_EQ(request.status(), 302);
    EXPECT_EQ(body, "");
    EXPECT_EQ(server.requestCount(), row.requestsMade);
    EXPECT_NE(log.text().find(std::string(" not followed: ") + row.reason), std::string::npos)
        << log.text();

    boost::property_tree::ptree tree;
    EXPECT_FALSE(request.getJson(server.url("/hop0"), tree));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(WebRequest, RefusedRedirect, ::testing::Values(
    RefusedCase{"SixthHop",
                [](HttpTestServer& server) { serveChain(server, 6, "never"); },
                "more than 5 redirects", 6},
    RefusedCase{"Loop",
                [](HttpTestServer& server)
                {
                    server.reply("/hop0", redirectTo("/hop1"));
                    server.reply("/hop1", redirectTo("/hop0"));
                },
                "a redirect loop", 2},
    RefusedCase{"LoopToItself",
                [](HttpTestServer& server) { server.reply("/hop0", redirectTo("/hop0")); },
                "a redirect loop", 1},
    RefusedCase{"NoLocation",
                [](HttpTestServer& server) { server.reply("/hop0", HttpReply::withStatus(302)); },
                "the answer names no Location", 1},
    RefusedCase{"OtherScheme",
                [](HttpTestServer& server) { server.reply("/hop0", redirectTo("ftp://127.0.0.1/x")); },
                "the Location ftp://127.0.0.1/x is not an http or https address", 1}),
    [](const ::testing::TestParamInfo<RefusedCase>& caseInfo) { return caseInfo.param.name; });
// clang-format on

TEST(Redirect, AResumeKeepsItsRangeAtEveryHop)
{
    HttpTestServer server;
    const std::string content = bytesOf(10000);
    serveChain(server, 2, content);
    WebRequest request;

    const std::string file = resumedDownload(request, server.url("/hop0"), content.substr(0, 4000));

    EXPECT_EQ(request.state(), WebRequestState::Complete);
    EXPECT_EQ(request.status(), 206);
    EXPECT_TRUE(file == content);
    ASSERT_EQ(server.requestCount(), 3u);
    for (const RecordedRequest& received : server.requests())
        EXPECT_EQ(received.header("Range"), "bytes=4000-") << received.target;
}

// Credentials given with the permalink are for its host; a mirror elsewhere, even on the
// same machine under another name or port, never sees them, nor do credentials written
// into a Location reach anyone.
TEST(Redirect, CredentialsGoOnlyToTheirOwnHost)
{
    HttpTestServer permalinkServer;
    HttpTestServer mirror;
    const std::string content = bytesOf(2000);
    mirror.serveContent("/Setup.exe", content);
    permalinkServer.reply("/latest", redirectTo("/same-host"));
    permalinkServer.reply("/same-host",
                          redirectTo("http://mallory:pw@localhost:" +
                                     std::to_string(permalinkServer.port()) + "/other-name"));
    permalinkServer.reply("/other-name", redirectTo(mirror.url("/Setup.exe")));
    WebRequest request;
    LogCapture log({"web"});

    const std::string body =
        downloadText(request, "http://alice:s3cret@" + permalinkServer.hostAndPort() + "/latest");

    EXPECT_TRUE(body == content);
    const auto sent = permalinkServer.requests();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0].header("Authorization"), basicAuthorization("alice:s3cret"));
    EXPECT_EQ(sent[1].header("Authorization"), basicAuthorization("alice:s3cret"));
    EXPECT_EQ(sent[2].header("Authorization"), std::nullopt) << "another host name";
    EXPECT_EQ(mirror.lastRequest().header("Authorization"), std::nullopt) << "another port";
    EXPECT_EQ(log.text().find("s3cret"), std::string::npos) << log.text();
    EXPECT_EQ(log.text().find(":pw@"), std::string::npos) << log.text();
}

TEST(Redirect, NeverFromHttpsToHttpButFromHttpToHttps)
{
    const TestCertificates& certificates = TestCertificates::trustedByThisProcess();
    HttpTestServer secure(certificates.trusted());
    HttpTestServer plain;
    const std::string content = bytesOf(3000);
    plain.serveContent("/Setup.exe", content);
    secure.serveContent("/Setup.exe", content);
    secure.reply("/downgrade", redirectTo(plain.url("/Setup.exe"), 301));
    plain.reply("/upgrade", redirectTo(secure.url("/Setup.exe"), 301));
    WebRequest request;
    LogCapture log({"web"});

    EXPECT_EQ(downloadText(request, secure.url("/downgrade")), "");
    EXPECT_FALSE(request.isOk());
    EXPECT_EQ(plain.requestCount(), 0u);
    EXPECT_NE(log.text().find("a redirect from https to http (" + plain.url("/Setup.exe") +
                              ") is never followed"),
              std::string::npos)
        << log.text();

    EXPECT_TRUE(downloadText(request, plain.url("/upgrade")) == content);
    EXPECT_EQ(request.state(), WebRequestState::Complete);
}

} // namespace
