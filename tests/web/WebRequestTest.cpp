#include "UpdateManager/web/WebRequest.h"

#include "tests/support/HttpTestServer.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TextSearch.h"
#include "tests/web/WebTestHelpers.h"

#include <Poco/Exception.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <sstream>
#include <thread>

using namespace Veltora::UpdateManager;
using namespace Veltora::Testing;

namespace
{

class WebRequestTest : public ::testing::Test
{
protected:
    HttpTestServer server;
    WebRequest request;
};

TEST_F(WebRequestTest, ReadsABodyLargerThanOneChunkCompletely)
{
    const std::string content = bytesOf(3 * WebRequest::chunkSize + 123);
    server.serveContent("/installer.exe", content);

    std::ostringstream out;
    request.send(server.url("/installer.exe"));
    ASSERT_TRUE(request.isOk());
    EXPECT_EQ(request.state(), WebRequestState::Pending);
    EXPECT_EQ(request.expectedTotalSize(), static_cast<std::int64_t>(content.size()));
    std::int64_t largestChunk = 0;
    while (request.hasMoreData())
        largestChunk = std::max(largestChunk, request.readChunk(out));

    EXPECT_EQ(request.state(), WebRequestState::Complete);
    EXPECT_EQ(out.str(), content);
    EXPECT_EQ(largestChunk, static_cast<std::int64_t>(WebRequest::chunkSize));
    EXPECT_EQ(request.bytesWritten(), static_cast<std::int64_t>(content.size()));
    EXPECT_DOUBLE_EQ(request.progress(), 1.0);
    EXPECT_EQ(server.lastRequest().method, "GET");
    EXPECT_EQ(server.lastRequest().version, "HTTP/1.1");
}

struct UrlCase
{
    const char* name;
    std::string (*makeUrl)(const HttpTestServer&);
    bool reachesServer;
    const char* loggedUriStart; // after "Request URI: "
};

class UrlNormalisation : public ::testing::TestWithParam<UrlCase>
{
};

TEST_P(UrlNormalisation, PrefixesEverythingButHttp)
{
    HttpTestServer server;
    server.serveJson("/api/x", R"({"a":"1"})");
    WebRequest request;
    const std::string url = GetParam().makeUrl(server);
    LogCapture log({"web"});

    const std::string body = downloadText(request, url);

    const std::string text = log.text();
    EXPECT_NE(text.find(std::string("Request URI: ") + GetParam().loggedUriStart),
              std::string::npos)
        << text;
    if (GetParam().reachesServer)
    {
        EXPECT_EQ(body, R"({"a":"1"})");
        EXPECT_EQ(request.state(), WebRequestState::Complete);
        EXPECT_EQ(server.lastRequest().target, "/api/x");
    }
    else
    {
        EXPECT_EQ(request.state(), WebRequestState::ConnectionFailed);
        EXPECT_EQ(server.requestCount(), 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    WebRequest, UrlNormalisation,
    ::testing::Values(
        UrlCase{"CapitalScheme",
                [](const HttpTestServer& s) { return "HTTP://" + s.hostAndPort() + "/api/x"; },
                true, "http://127.0.0.1:"},
        UrlCase{"BareHost", [](const HttpTestServer& s) { return s.hostAndPort() + "/api/x"; },
                true, "http://127.0.0.1:"},
        UrlCase{"OtherSchemeBecomesAHostName",
                [](const HttpTestServer& s) { return "ftp://" + s.hostAndPort() + "/api/x"; },
                false, "http://ftp"}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST_F(WebRequestTest, SendsPathAndQueryButNoFragment)
{
    server.serveJson("/a b/c", "{}");
    downloadText(request, server.url("/a%20b/c?x=1&y=2#section"));
    EXPECT_EQ(server.lastRequest().target, "/a%20b/c?x=1&y=2");

    downloadText(request, server.hostAndPort());
    EXPECT_EQ(server.lastRequest().target, "/");
}

TEST_F(WebRequestTest, RejectsAnUnparsableUrlWithTheParsersException)
{
    EXPECT_THROW(request.send("http://127.0.0.1:99999999/x"), Poco::SyntaxException);
    EXPECT_EQ(request.state(), WebRequestState::Pending);
    EXPECT_FALSE(request.isOk());
    EXPECT_FALSE(request.hasMoreData());
}

struct AuthCase
{
    const char* name;
    const char* userInfo; // written before "@" in the URL; empty = none
    const char* expectedCredentials;
    const char* expectedLog;
};

class Authentication : public ::testing::TestWithParam<AuthCase>
{
};

TEST_P(Authentication, SendsTheExactAuthorizationField)
{
    HttpTestServer server;
    server.serveJson("/x", "{}");
    WebRequest request;
    const std::string userInfo = GetParam().userInfo;
    const std::string url =
        "http://" + (userInfo.empty() ? "" : userInfo + "@") + server.hostAndPort() + "/x";
    LogCapture log({"web"});

    downloadText(request, url);

    const auto authorization = server.lastRequest().header("Authorization");
    const std::string text = log.text();
    if (GetParam().expectedCredentials == nullptr)
    {
        EXPECT_EQ(authorization, std::nullopt);
        EXPECT_EQ(text.find("Authenticate with"), std::string::npos);
    }
    else
    {
        EXPECT_EQ(authorization, basicAuthorization(GetParam().expectedCredentials));
        EXPECT_NE(text.find(GetParam().expectedLog), std::string::npos) << text;
    }
}

INSTANTIATE_TEST_SUITE_P(
    WebRequest, Authentication,
    ::testing::Values(AuthCase{"UserAndPassword", "alice:se:cret", "alice:se:cret",
                               "Authenticate with alice:se:cret\n"},
                      AuthCase{"UserOnly", "alice", "alice:", "Authenticate with alice:\n"},
                      AuthCase{"None", "", nullptr, nullptr}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST_F(WebRequestTest, PassesAServerThatChecksCredentials)
{
    server.requireBasicAuth("bob", "pw");
    server.serveJson("/x", R"({"ok":"yes"})");
    const std::string withCredentials = "http://bob:pw@" + server.hostAndPort() + "/x";

    request.send(server.url("/x"));
    EXPECT_FALSE(request.isOk());

    boost::property_tree::ptree tree;
    ASSERT_TRUE(request.getJson(withCredentials, tree));
    EXPECT_EQ(tree.get<std::string>("ok"), "yes");
}

TEST_F(WebRequestTest, SendsAnOpenEndedRangeOnlyForANonZeroOffset)
{
    const std::string content = bytesOf(5000);
    server.serveContent("/f", content);

    request.send(server.url("/f"));
    EXPECT_EQ(server.lastRequest().header("Range"), std::nullopt);

    request.setStartOffset(1000);
    std::ostringstream out;
    download(request, server.url("/f"), out);
    EXPECT_EQ(server.lastRequest().header("Range"), "bytes=1000-");
    EXPECT_EQ(out.str(), content.substr(1000));
    EXPECT_EQ(request.expectedTotalSize(), 5000);
    EXPECT_EQ(request.state(), WebRequestState::Complete);
}

TEST_F(WebRequestTest, ResumedTransferReportsPositionAndProgressOfTheWholeResource)
{
    const std::string content = bytesOf(20000);
    server.serveContent("/f", content);
    std::ostringstream partialFile(content.substr(0, 12000), std::ios::ate);

    request.setStartOffset(12000);
    download(request, server.url("/f"), partialFile);

    EXPECT_EQ(partialFile.str(), content);
    EXPECT_EQ(request.bytesWritten(), 20000);
    EXPECT_DOUBLE_EQ(request.progress(), 1.0);
}

TEST_F(WebRequestTest, AcceptsAFullAnswerToARangedRequest)
{
    server.serveContent("/f", bytesOf(3000), RangeMode::Ignore);
    request.setStartOffset(1000);
    request.send(server.url("/f"));
    EXPECT_TRUE(request.isOk());
    EXPECT_EQ(request.status(), 200);
    EXPECT_EQ(request.expectedTotalSize(), 4000);
}

class StatusCodes : public ::testing::TestWithParam<std::pair<int, bool>>
{
};

TEST_P(StatusCodes, OnlySuccessAndPartialContentAreUsable)
{
    HttpTestServer server;
    HttpReply reply = HttpReply::withStatus(GetParam().first, R"({"a":"1"})");
    reply.headers.emplace_back("Location", "/elsewhere");
    server.reply("/x", reply);
    server.serveJson("/elsewhere", "{}");
    WebRequest request;

    request.send(server.url("/x"));
    EXPECT_EQ(request.isOk(), GetParam().second);
    EXPECT_EQ(request.status(), GetParam().first);
    EXPECT_EQ(request.state(), WebRequestState::Pending);

    boost::property_tree::ptree tree;
    EXPECT_EQ(request.getJson(server.url("/x"), tree), GetParam().second);
    EXPECT_EQ(server.requestCount(), 2u) << "a redirect must not be followed";
}

INSTANTIATE_TEST_SUITE_P(WebRequest, StatusCodes,
                         ::testing::Values(std::pair{200, true}, std::pair{206, true},
                                           std::pair{301, false}, std::pair{404, false},
                                           std::pair{500, false}));

struct RangeNotSatisfiableCase
{
    const char* name;
    std::optional<std::string> contentRange;
    std::int64_t startOffset;
    bool ok;
    WebRequestState state; // after send
    std::int64_t expectedTotal;
    const char* logged;
};

class RangeNotSatisfiable : public ::testing::TestWithParam<RangeNotSatisfiableCase>
{
};

TEST_P(RangeNotSatisfiable, SettlesByTheTotalAfterTheLastSlash)
{
    const auto& param = GetParam();
    HttpTestServer server;
    HttpReply reply = HttpReply::withStatus(416);
    if (param.contentRange)
        reply.headers.emplace_back("Content-Range", *param.contentRange);
    server.reply("/f", reply);
    WebRequest request;
    request.setStartOffset(param.startOffset);
    LogCapture log({"web"});

    request.send(server.url("/f"));
    const bool ok = request.isOk();
    const WebRequestState stateAfterSend = request.state();
    const std::int64_t expectedTotal = request.expectedTotalSize();
    // Callers read the body only when the answer is ok.
    const bool bodyLoopRuns = ok && request.hasMoreData();
    const WebRequestState stateAfterLoop = request.state();
    const std::string text = log.text();

    EXPECT_EQ(ok, param.ok);
    EXPECT_EQ(stateAfterSend, param.state);
    if (param.state != WebRequestState::ConnectionFailed)
    {
        EXPECT_EQ(expectedTotal, param.expectedTotal);
    }
    EXPECT_EQ(bodyLoopRuns, false);
    if (param.ok)
    {
        EXPECT_EQ(stateAfterLoop, WebRequestState::Complete);
    }
    if (param.logged != nullptr)
    {
        EXPECT_EQ(countOf(text, param.logged), 1u) << text;
    }
    else
    {
        EXPECT_EQ(text.find("| error "), std::string::npos) << text;
    }
}

INSTANTIATE_TEST_SUITE_P(
    WebRequest, RangeNotSatisfiable,
    ::testing::Values(
        RangeNotSatisfiableCase{"TotalEqualsOffset", "bytes */5000", 5000, true,
                                WebRequestState::Pending, 5000, nullptr},
        RangeNotSatisfiableCase{"TotalAboveOffset", "bytes */5000", 4000, false,
                                WebRequestState::Pending, 5000, nullptr},
        RangeNotSatisfiableCase{"TotalBelowOffset", "bytes */3000", 5000, false,
                                WebRequestState::Pending, 3000, nullptr},
        RangeNotSatisfiableCase{"TotalNotANumber", "bytes */abc", 5000, false,
                                WebRequestState::Inconsistent, 5000,
                                "Bad response header: Content-Range: bytes */abc\n"},
        RangeNotSatisfiableCase{"TotalOutOfRange", "bytes */99999999999999999999", 5000, false,
                                WebRequestState::Inconsistent, 5000,
                                "Bad response header: Content-Range: bytes */99999999999999999999"},
        RangeNotSatisfiableCase{"NoSlash", "bytes 5000", 5000, false, WebRequestState::Pending,
                                5000, nullptr},
        RangeNotSatisfiableCase{"FieldMissing", std::nullopt, 5000, false,
                                WebRequestState::ConnectionFailed, 0, "Error connecting to "}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST_F(WebRequestTest, ReadsNoBodyWithoutContentLength)
{
    HttpReply reply = HttpReply::json(R"({"a":"1"})");
    reply.sendContentLength = false;
    server.reply("/x", reply);

    EXPECT_EQ(downloadText(request, server.url("/x")), "");
    EXPECT_EQ(request.state(), WebRequestState::Complete);

    boost::property_tree::ptree tree;
    EXPECT_FALSE(request.getJson(server.url("/x"), tree));
    EXPECT_EQ(request.state(), WebRequestState::Complete);
}

TEST_F(WebRequestTest, EarlyCloseEndsCompleteWithFewerBytes)
{
    HttpReply reply = HttpReply::withStatus(200, bytesOf(20000));
    reply.ending = ReplyEnding::CloseAfterBytes;
    reply.bytesBeforeEnding = 10000;
    server.reply("/f", reply);

    const std::string body = downloadText(request, server.url("/f"));

    EXPECT_EQ(request.state(), WebRequestState::Complete);
    EXPECT_EQ(body, bytesOf(10000));
    EXPECT_EQ(request.bytesWritten(), 10000);
    EXPECT_EQ(request.expectedTotalSize(), 20000);
    EXPECT_DOUBLE_EQ(request.progress(), 0.5);
}

TEST_F(WebRequestTest, UnreachableHostThenReachableOneWithTheSameObject)
{
    server.serveJson("/x", R"({"a":"1"})");
    const std::string unreachable =
        "127.0.0.1:" + std::to_string(HttpTestServer::closedPort()) + "/x";
    LogCapture log({"web"});

    request.send(unreachable);
    const bool unreachableOk = request.isOk();
    const int unreachableStatus = request.status();
    const WebRequestState unreachableState = request.state();
    const bool unreachableHasData = request.hasMoreData();
    boost::property_tree::ptree tree;
    const bool reachableParsed = request.getJson(server.url("/x"), tree);
    const std::string text = log.text();

    EXPECT_FALSE(unreachableOk);
    EXPECT_EQ(unreachableStatus, 0);
    EXPECT_EQ(unreachableState, WebRequestState::ConnectionFailed);
    EXPECT_FALSE(unreachableHasData);
    ASSERT_TRUE(reachableParsed);
    EXPECT_EQ(tree.get<std::string>("a"), "1");
    EXPECT_EQ(countOf(text, "Error connecting to " + unreachable + ": "), 1u) << text;
    EXPECT_EQ(countOf(text, "Error connecting to "), 1u) << text;
}

TEST_F(WebRequestTest, LogsTheResponseHeaderOnlyWhenWebDebugIsOn)
{
    server.serveJson("/x", "{}");
    {
        LogCapture log({"web"});
        request.send(server.url("/x"));
        const std::string text = log.text();
        EXPECT_NE(text.find("Response Header: HTTP/1.1 200 OK"), std::string::npos) << text;
        EXPECT_NE(text.find("Content-Length: 2"), std::string::npos) << text;
    }
    {
        LogCapture log({"download"});
        request.send(server.url("/x"));
        EXPECT_EQ(log.text().find("Response Header"), std::string::npos);
    }
}

TEST_F(WebRequestTest, ProgressIsReadableFromAnotherThreadDuringTheTransfer)
{
    const std::string content = bytesOf(4 * 1024 * 1024);
    server.serveContent("/big", content);
    std::atomic<bool> done{false};
    double lastProgress = 0.0;
    bool progressWentBackwards = false;
    std::thread observer(
        [&]
        {
            while (!done)
            {
                const double progress = request.progress();
                progressWentBackwards |= progress < lastProgress;
                lastProgress = progress;
                (void)request.bytesWritten();
                (void)request.expectedTotalSize();
            }
        });

    std::ostringstream out;
    download(request, server.url("/big"), out);
    done = true;
    observer.join();

    EXPECT_EQ(request.state(), WebRequestState::Complete);
    EXPECT_EQ(out.str().size(), content.size());
    EXPECT_FALSE(progressWentBackwards);
}

struct HostileJsonCase
{
    const char* name;
    std::string (*body)();
    const char* logged;
};

class HostileJson : public ::testing::TestWithParam<HostileJsonCase>
{
};

TEST_P(HostileJson, EndsInFailureWithoutCrashing)
{
    HttpTestServer server;
    server.serveJson("/x", GetParam().body());
    WebRequest request;
    boost::property_tree::ptree tree;
    LogCapture log({"web"});

    const bool parsed = request.getJson(server.url("/x"), tree);
    const std::string text = log.text();

    EXPECT_FALSE(parsed);
    EXPECT_NE(text.find(GetParam().logged), std::string::npos) << text.substr(0, 2000);
    EXPECT_TRUE(tree.empty());
}

INSTANTIATE_TEST_SUITE_P(
    WebRequest, HostileJson,
    ::testing::Values(
        HostileJsonCase{"Empty", [] { return std::string(); }, "Invalid json format Response: "},
        HostileJsonCase{"Garbage", [] { return std::string("{\"total\": 1,,}"); },
                        "Invalid json format Response: "},
        HostileJsonCase{"Truncated", [] { return std::string(R"({"resources": [{"a": )"); },
                        "Invalid json format Response: "},
        HostileJsonCase{"DeepArrays", [] { return std::string(1000000, '['); },
                        "Invalid json format Response: nesting deeper than 256 levels"},
        HostileJsonCase{"DeepObjects",
                        []
                        {
                            std::string text;
                            for (int level = 0; level < 100000; ++level)
                                text += "{\"a\":";
                            return text + "1" + std::string(100000, '}');
                        },
                        "Invalid json format Response: nesting deeper than 256 levels"},
        HostileJsonCase{"LargerThanTheLimit",
                        [] { return "\"" + std::string(WebRequest::maxJsonSize, 'x') + "\""; },
                        "Invalid json format Response: response of 16777218 bytes"}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST_F(WebRequestTest, ParsesALargeButLegalJsonAnswer)
{
    const std::string longText(8 * 1024 * 1024, 'x');
    server.serveJson("/x",
                     R"({"total": "1", "brackets": "[[[{{{", "notes": ")" + longText + R"("})");
    boost::property_tree::ptree tree;
    ASSERT_TRUE(request.getJson(server.url("/x"), tree));
    EXPECT_EQ(tree.get<std::string>("notes").size(), longText.size());
    EXPECT_EQ(tree.get<std::string>("brackets"), "[[[{{{");
}

TEST_F(WebRequestTest, TruncatedJsonBodyIsNotParsed)
{
    HttpReply reply = HttpReply::json(R"({"total": "1", "resources": []})");
    reply.ending = ReplyEnding::CloseAfterBytes;
    reply.bytesBeforeEnding = 10;
    server.reply("/x", reply);
    boost::property_tree::ptree tree;
    EXPECT_FALSE(request.getJson(server.url("/x"), tree));
}

// One test for all stalls, run side by side, because each waits for the 10-second time-out.
TEST(WebRequestTimeout, StalledServerEndsInAFailureStateInsteadOfHanging)
{
    HttpTestServer server;
    HttpReply silent = HttpReply::withStatus(200, "never sent");
    silent.ending = ReplyEnding::StallBeforeHeader;
    server.reply("/silent", silent);
    HttpReply stalling = HttpReply::withStatus(200, bytesOf(20000));
    stalling.ending = ReplyEnding::StallAfterBytes;
    stalling.bytesBeforeEnding = 10000; // one whole chunk arrives before the stall
    server.reply("/stalling", stalling);
    LogCapture log({"web"});

    WebRequestState silentState{}, stallingState{}, stallingPastEndState{};
    std::string stallingBody;
    const bool gaveUp =
        finishesBefore(std::chrono::seconds(60), {&server},
                       [&]
                       {
                           std::thread silentClient(
                               [&]
                               {
                                   WebRequest request;
                                   downloadText(request, server.url("/silent"));
                                   silentState = request.state();
                               });
                           std::thread stallingClient(
                               [&]
                               {
                                   WebRequest request;
                                   stallingBody = downloadText(request, server.url("/stalling"));
                                   stallingState = request.state();
                               });
                           // An output already longer than the expected size: the failure
                           // comes after bytesWritten passed the total.
                           WebRequest request;
                           std::ostringstream longOutput(bytesOf(30000), std::ios::ate);
                           download(request, server.url("/stalling"), longOutput);
                           stallingPastEndState = request.state();
                           silentClient.join();
                           stallingClient.join();
                       });

    const std::string text = log.text();
    EXPECT_TRUE(gaveUp) << "a request did not give up after its time-out";
    EXPECT_EQ(silentState, WebRequestState::ConnectionFailed);
    EXPECT_EQ(stallingState, WebRequestState::Interrupted);
    EXPECT_EQ(stallingPastEndState, WebRequestState::Inconsistent);
    EXPECT_EQ(stallingBody, bytesOf(20000).substr(0, stallingBody.size()));
    EXPECT_GE(stallingBody.size(), WebRequest::chunkSize);
    EXPECT_EQ(countOf(text, "Error connecting to " + server.url("/silent") + ": "), 1u) << text;
}

TEST(WebRequestStateNumbers, AreFixed)
{
    EXPECT_EQ(static_cast<int>(WebRequestState::Pending), 0);
    EXPECT_EQ(static_cast<int>(WebRequestState::Complete), 1);
    EXPECT_EQ(static_cast<int>(WebRequestState::Inconsistent), 3);
    EXPECT_EQ(static_cast<int>(WebRequestState::Interrupted), 4);
    EXPECT_EQ(static_cast<int>(WebRequestState::ConnectionFailed), 5);
    EXPECT_EQ(sizeof(WebRequestState), 4u);
}

} // namespace
