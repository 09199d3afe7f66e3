// WebRequest over TLS against the loopback test server, with certificates made at test
// time. Every fixture takes the process's certificates first, because the web layer reads
// the extra CA file once, at the first https request.
#include "UpdateManager/web/WebRequest.h"

#include "tests/support/HttpTestServer.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestCertificates.h"
#include "tests/support/TextSearch.h"
#include "tests/web/WebTestHelpers.h"

#include <Poco/Exception.h>
#include <Poco/Pipe.h>
#include <Poco/PipeStream.h>
#include <Poco/Process.h>
#include <boost/filesystem.hpp>
#include <boost/filesystem/fstream.hpp>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <iterator>
#include <memory>
#include <sstream>
#include <thread>

using namespace Veltora::UpdateManager;
using namespace Veltora::Testing;
namespace fs = boost::filesystem;

namespace
{

class HttpsRequest : public ::testing::Test
{
protected:
    const TestCertificates& certificates = TestCertificates::trustedByThisProcess();
    HttpTestServer server{certificates.trusted()};
    WebRequest request;
};

TEST_F(HttpsRequest, FetchesOverTlsWithTheSchemeInAnyLetterCase)
{
    const std::string content = bytesOf(3 * WebRequest::chunkSize + 123);
    server.serveContent("/installer.exe", content);
    LogCapture log({"web"});

    for (const std::string scheme : {"https://", "HTTPS://", "hTTpS://"})
    {
        const std::string body =
            downloadText(request, scheme + server.hostAndPort() + "/installer.exe");
        EXPECT_EQ(request.state(), WebRequestState::Complete) << scheme;
        EXPECT_TRUE(body == content) << scheme;
        EXPECT_DOUBLE_EQ(request.progress(), 1.0) << scheme;
    }

    const std::string text = log.text();
    EXPECT_EQ(server.requestCount(), 3u);
    EXPECT_EQ(server.lastRequest().target, "/installer.exe");
    EXPECT_EQ(countOf(text, "Request URI: https://127.0.0.1:"), 3u) << text;
    EXPECT_EQ(text.find("Error connecting to "), std::string::npos) << text;
}

TEST_F(HttpsRequest, GetJsonOverTls)
{
    server.serveJson("/api/x", R"({"total": "1"})");
    boost::property_tree::ptree tree;
    ASSERT_TRUE(request.getJson(server.url("/api/x"), tree));
    EXPECT_EQ(tree.get<std::string>("total"), "1");
}

struct RejectedCase
{
    const char* name;
    const TlsIdentity& (TestCertificates::*identity)() const;
    const char* reason; // part of the logged error
};

void PrintTo(const RejectedCase& testCase, std::ostream* out)
{
    *out << testCase.name;
}

class RejectedCertificate : public ::testing::TestWithParam<RejectedCase>
{
};

// The handshake fails before any HTTP is exchanged, and the same object then reaches a
// trusted server.
TEST_P(RejectedCertificate, EndsInConnectionFailedWithTheReasonLogged)
{
    const TestCertificates& certificates = TestCertificates::trustedByThisProcess();
    HttpTestServer rejected((certificates.*GetParam().identity)());
    rejected.serveJson("/api/x", R"({"a":"1"})");
    HttpTestServer trusted(certificates.trusted());
    trusted.serveJson("/api/x", R"({"a":"2"})");
    WebRequest request;
    const std::string url = rejected.url("/api/x");
    LogCapture log({"web"});

    request.send(url);
    const bool ok = request.isOk();
    const WebRequestState state = request.state();
    const bool hasData = request.hasMoreData();
    boost::property_tree::ptree tree;
    const bool rejectedParsed = request.getJson(url, tree);
    const bool trustedParsed = request.getJson(trusted.url("/api/x"), tree);
    const std::string text = log.text();

    EXPECT_FALSE(ok);
    EXPECT_EQ(state, WebRequestState::ConnectionFailed);
    EXPECT_FALSE(hasData);
    EXPECT_FALSE(rejectedParsed);
    EXPECT_EQ(rejected.requestCount(), 0u) << "nothing may be sent to an unverified server";
    EXPECT_EQ(countOf(text, "Error connecting to " + url + ": "), 2u) << text;
    EXPECT_NE(text.find(GetParam().reason), std::string::npos) << text;
    ASSERT_TRUE(trustedParsed) << text;
    EXPECT_EQ(tree.get<std::string>("a"), "2");
}

INSTANTIATE_TEST_SUITE_P(HttpsRequest, RejectedCertificate,
                         ::testing::Values(RejectedCase{"SelfSigned", &TestCertificates::selfSigned,
                                                        "self-signed certificate"},
                                           RejectedCase{"OtherHost", &TestCertificates::otherHost,
                                                        "Unacceptable certificate"},
                                           RejectedCase{"Expired", &TestCertificates::expired,
                                                        "certificate has expired"}),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

// The certificate is checked against the host of each request: after 127.0.0.1 was
// accepted, the same server reached as "localhost" is refused, since its certificate names
// only the address.
TEST_F(HttpsRequest, ChecksEachNewHostAgainstItsOwnName)
{
    server.serveJson("/x", R"({"a":"1"})");
    const std::string byName = "https://localhost:" + std::to_string(server.port()) + "/x";
    boost::property_tree::ptree tree;
    LogCapture log({"web"});

    const bool byAddress = request.getJson(server.url("/x"), tree);
    const bool byNameParsed = request.getJson(byName, tree);
    const WebRequestState byNameState = request.state();
    const bool byAddressAgain = request.getJson(server.url("/x"), tree);
    const std::string text = log.text();

    EXPECT_TRUE(byAddress);
    EXPECT_FALSE(byNameParsed);
    EXPECT_EQ(byNameState, WebRequestState::ConnectionFailed);
    EXPECT_NE(text.find("Error connecting to " + byName + ": Certificate validation error: " +
                        "Unacceptable certificate from localhost"),
              std::string::npos)
        << text;
    EXPECT_TRUE(byAddressAgain);
    EXPECT_EQ(server.requestCount(), 2u);
}

TEST_F(HttpsRequest, SendsBasicAuthenticationOverTls)
{
    server.requireBasicAuth("bob", "se:cret");
    server.serveJson("/x", R"({"ok":"yes"})");
    boost::property_tree::ptree tree;

    EXPECT_FALSE(request.getJson(server.url("/x"), tree));
    ASSERT_TRUE(request.getJson("https://bob:se:cret@" + server.hostAndPort() + "/x", tree));
    EXPECT_EQ(tree.get<std::string>("ok"), "yes");
    EXPECT_EQ(server.lastRequest().header("Authorization"), basicAuthorization("bob:se:cret"));
}

struct RangeCase
{
    std::int64_t startOffset;
    std::optional<std::string> rangeSent;
    bool ok;
    std::int64_t bodyBytes; // read by the body loop
    std::int64_t expectedTotal;
};

// The same Range and 416 rules as over plain HTTP, against a 5000-byte resource.
TEST_F(HttpsRequest, AppliesTheRangeAnd416RulesOverTls)
{
    const std::string content = bytesOf(5000);
    server.serveContent("/f", content);
    const RangeCase cases[] = {{0, std::nullopt, true, 5000, 5000},
                               {1000, "bytes=1000-", true, 4000, 5000},
                               {5000, "bytes=5000-", true, 0, 5000},
                               {6000, "bytes=6000-", false, 0, 5000}};

    for (const RangeCase& range : cases)
    {
        request.setStartOffset(range.startOffset);
        request.send(server.url("/f"));
        std::ostringstream out;
        if (request.isOk())
            while (request.hasMoreData())
                request.readChunk(out);

        const std::string label = "start offset " + std::to_string(range.startOffset);
        EXPECT_EQ(server.lastRequest().header("Range"), range.rangeSent) << label;
        EXPECT_EQ(request.isOk(), range.ok) << label;
        EXPECT_EQ(request.state(), range.ok ? WebRequestState::Complete : WebRequestState::Pending)
            << label;
        EXPECT_EQ(static_cast<std::int64_t>(out.str().size()), range.bodyBytes) << label;
        EXPECT_TRUE(out.str() == content.substr(static_cast<std::size_t>(
                                     std::min<std::int64_t>(range.startOffset, 5000))))
            << label;
        EXPECT_EQ(request.expectedTotalSize(), range.expectedTotal) << label;
    }
}

// Bodies end over TLS as over plain HTTP: whole when their framing says so, Interrupted
// when the connection ends first.
TEST_F(HttpsRequest, BodiesEndByTheirFramingLikePlainHttp)
{
    struct Case
    {
        const char* label;
        bool chunked;
        bool sendContentLength;
        ReplyEnding ending;
        WebRequestState expected;
        std::size_t bodyBytes;
    };
    for (const Case& ending :
         {Case{"early close", false, true, ReplyEnding::CloseAfterBytes,
               WebRequestState::Interrupted, 10000},
          Case{"no length", false, false, ReplyEnding::Complete, WebRequestState::Complete, 20000},
          Case{"chunked", true, false, ReplyEnding::Complete, WebRequestState::Complete, 20000},
          Case{"chunked without the last chunk", true, false, ReplyEnding::CloseAfterBytes,
               WebRequestState::Interrupted, 20000}})
    {
        HttpReply reply = HttpReply::withStatus(200, bytesOf(20000));
        reply.ending = ending.ending;
        reply.bytesBeforeEnding = ending.bodyBytes;
        reply.chunked = ending.chunked;
        reply.sendContentLength = ending.sendContentLength;
        server.reply("/f", reply);

        const std::string body = downloadText(request, server.url("/f"));

        EXPECT_EQ(request.state(), ending.expected) << ending.label;
        EXPECT_EQ(body, bytesOf(ending.bodyBytes)) << ending.label;
    }
}

// One object goes back and forth between the transports; an "http" address for the TLS
// server stays plain HTTP and fails instead of being upgraded.
TEST_F(HttpsRequest, OneObjectServesPlainAndSecureAddressesInTurn)
{
    HttpTestServer plain;
    plain.serveJson("/x", R"({"from":"plain"})");
    server.serveJson("/x", R"({"from":"tls"})");
    const std::string plainUrl = plain.url("/x");
    const std::string secureUrl = server.url("/x");
    const std::string plainUrlForTheTlsServer = "http://" + server.hostAndPort() + "/x";

    for (const auto& [url, expected] : {std::pair{plainUrl, "plain"}, std::pair{secureUrl, "tls"},
                                        std::pair{plainUrl, "plain"}, std::pair{secureUrl, "tls"}})
    {
        boost::property_tree::ptree tree;
        ASSERT_TRUE(request.getJson(url, tree)) << url;
        EXPECT_EQ(tree.get<std::string>("from"), expected) << url;
    }

    boost::property_tree::ptree tree;
    EXPECT_FALSE(request.getJson(plainUrlForTheTlsServer, tree));
    EXPECT_EQ(request.state(), WebRequestState::ConnectionFailed);
    EXPECT_EQ(server.requestCount(), 2u);
}

TEST_F(HttpsRequest, UsesPort443WhenTheAddressNamesNone)
{
    std::unique_ptr<HttpTestServer> standardPort;
    try
    {
        standardPort = std::make_unique<HttpTestServer>(certificates.trusted(), 443);
    }
    catch (const Poco::Exception& error)
    {
        GTEST_SKIP() << "port 443 is not available here: " << error.displayText();
    }
    standardPort->serveJson("/x", R"({"port":"443"})");

    boost::property_tree::ptree tree;
    ASSERT_TRUE(request.getJson("https://127.0.0.1/x", tree));
    EXPECT_EQ(tree.get<std::string>("port"), "443");
}

TEST(HttpTestServerExecutable, ServesAFolderOverTlsAndRefusesUnusableCertificates)
{
    const TestCertificates& certificates = TestCertificates::trustedByThisProcess();
    TempFolder folder;
    fs::create_directories(folder / "www");
    fs::ofstream(folder / "www" / "installer.bin") << "0123456789";
    const auto tlsOptions = [&](const fs::path& certificate)
    {
        return std::vector<std::string>{(folder / "www").string(),
                                        "--port-file",
                                        (folder / "port").string(),
                                        "--certificate",
                                        certificate.string(),
                                        "--private-key",
                                        certificates.trusted().privateKeyFile.string(),
                                        "--lifetime",
                                        "120"};
    };

    Poco::Pipe refusedOutput;
    Poco::ProcessHandle refused = Poco::Process::launch(
        HTTP_TEST_SERVER, tlsOptions(folder / "missing.pem"), nullptr, nullptr, &refusedOutput);
    Poco::PipeInputStream refusedStream(refusedOutput);
    const std::string refusedText{std::istreambuf_iterator<char>(refusedStream),
                                  std::istreambuf_iterator<char>()};
    const int refusedStatus = refused.wait();

    Poco::ProcessHandle server =
        Poco::Process::launch(HTTP_TEST_SERVER, tlsOptions(certificates.trusted().certificateFile));
    std::string port;
    const bool listening = waitForPortFile(folder / "port", port);
    WebRequest request;
    request.setStartOffset(4);
    const std::string tail =
        listening ? downloadText(request, "https://127.0.0.1:" + port + "/installer.bin") : "";
    // By its id: killing through the handle closes it on Windows, and the wait would fail.
    Poco::Process::kill(server.id());
    server.wait();

    EXPECT_EQ(refusedStatus, 1);
    EXPECT_NE(refusedText.find("http_test_server: "), std::string::npos) << refusedText;
    ASSERT_TRUE(listening);
    EXPECT_EQ(tail, "456789");
    EXPECT_EQ(request.state(), WebRequestState::Complete);
}

// One test for every stall, run side by side, because each waits for the 10-second
// time-out: a silent TLS server, one that stalls in the body, and a plain HTTP server
// that never answers the TLS handshake.
TEST(HttpsRequestTimeout, StalledServersEndInAFailureStateInsteadOfHanging)
{
    const TestCertificates& certificates = TestCertificates::trustedByThisProcess();
    HttpTestServer tls(certificates.trusted());
    HttpReply silent = HttpReply::withStatus(200, "never sent");
    silent.ending = ReplyEnding::StallBeforeHeader;
    tls.reply("/silent", silent);
    HttpReply stalling = HttpReply::withStatus(200, bytesOf(20000));
    stalling.ending = ReplyEnding::StallAfterBytes;
    stalling.bytesBeforeEnding = 10000;
    tls.reply("/stalling", stalling);
    HttpTestServer plain;
    plain.serveJson("/x", "{}");
    const std::string plainServerAsHttps = "https://" + plain.hostAndPort() + "/x";
    LogCapture log({"web"});

    WebRequestState silentState{}, stallingState{}, plainServerState{};
    std::string stallingBody;
    const bool gaveUp = finishesBefore(std::chrono::seconds(60), {&tls, &plain},
                                       [&]
                                       {
                                           std::thread silentClient(
                                               [&]
                                               {
                                                   WebRequest request;
                                                   downloadText(request, tls.url("/silent"));
                                                   silentState = request.state();
                                               });
                                           std::thread stallingClient(
                                               [&]
                                               {
                                                   WebRequest request;
                                                   stallingBody =
                                                       downloadText(request, tls.url("/stalling"));
                                                   stallingState = request.state();
                                               });
                                           WebRequest request;
                                           downloadText(request, plainServerAsHttps);
                                           plainServerState = request.state();
                                           silentClient.join();
                                           stallingClient.join();
                                       });

    const std::string text = log.text();
    EXPECT_TRUE(gaveUp) << "a request did not give up after its time-out";
    EXPECT_EQ(silentState, WebRequestState::ConnectionFailed);
    EXPECT_EQ(stallingState, WebRequestState::Interrupted);
    EXPECT_EQ(stallingBody, bytesOf(20000).substr(0, stallingBody.size()));
    EXPECT_GE(stallingBody.size(), WebRequest::chunkSize);
    EXPECT_EQ(plainServerState, WebRequestState::ConnectionFailed);
    EXPECT_EQ(plain.requestCount(), 0u) << "an https address is never sent as plain HTTP";
    EXPECT_EQ(countOf(text, "Error connecting to " + tls.url("/silent") + ": "), 1u) << text;
    EXPECT_EQ(countOf(text, "Error connecting to " + plainServerAsHttps + ": "), 1u) << text;
}

} // namespace
