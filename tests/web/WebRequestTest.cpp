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

void PrintTo(const UrlCase& testCase, std::ostream* out)
{
    *out << testCase.name;
}

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

void PrintTo(const AuthCase& testCase, std::ostream* out)
{
    *out << testCase.name;
}

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
    EXPECT_EQ(text.find("cret"), std::string::npos) << text;
}

INSTANTIATE_TEST_SUITE_P(
    WebRequest, Authentication,
    ::testing::Values(AuthCase{"UserAndPassword", "alice:se:cret", "alice:se:cret",
                               "Authenticate with alice:***\n"},
                      AuthCase{"UserOnly", "alice", "alice:", "Authenticate with alice:***\n"},
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

TEST_F(WebRequestTest, AsksForAnUnencodedBody)
{
    server.serveJson("/x", "{}");
    downloadText(request, server.url("/x"));
    EXPECT_EQ(server.lastRequest().header("Accept-Encoding"), "identity");
}

TEST_F(WebRequestTest, ResumedTransferReportsPositionAndProgressOfTheWholeResource)
{
    const std::string content = bytesOf(20000);
    server.serveContent("/f", content);

    const std::string file = resumedDownload(request, server.url("/f"), content.substr(0, 12000));

    EXPECT_EQ(file, content);
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
    EXPECT_EQ(server.requestCount(), 2u) << "only redirect statuses are followed";
}

INSTANTIATE_TEST_SUITE_P(WebRequest, StatusCodes,
                         ::testing::Values(std::pair{200, true}, std::pair{206, true},
                                           std::pair{304, false}, std::pair{404, false},
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

void PrintTo(const RangeNotSatisfiableCase& testCase, std::ostream* out)
{
    *out << testCase.name;
}

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
        // Nothing was asked for: no answer can say that nothing is left.
        RangeNotSatisfiableCase{"RequestWithoutRange", "bytes */0", 0, false,
                                WebRequestState::Pending, 0, nullptr},
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

// Bodies whose length only their end tells: chunked (POCO decodes them) or ended by the
// server closing the connection.
struct UnknownLengthCase
{
    const char* name;
    std::size_t size;
    bool chunked;
    std::size_t chunkBytes;
};

void PrintTo(const UnknownLengthCase& testCase, std::ostream* out)
{
    *out << testCase.name;
}

class BodyOfUnknownLength : public ::testing::TestWithParam<UnknownLengthCase>
{
};

TEST_P(BodyOfUnknownLength, IsReadWhole)
{
    const auto& param = GetParam();
    HttpTestServer server;
    HttpReply reply = HttpReply::withStatus(200, bytesOf(param.size));
    reply.sendContentLength = false;
    reply.chunked = param.chunked;
    reply.chunkBytes = param.chunkBytes;
    server.reply("/f", reply);
    WebRequest request;

    const std::string body = downloadText(request, server.url("/f"));

    EXPECT_EQ(request.state(), WebRequestState::Complete);
    EXPECT_TRUE(body == bytesOf(param.size)) << body.size() << " bytes";
    EXPECT_EQ(request.expectedTotalSize(), -1);
    EXPECT_DOUBLE_EQ(request.progress(), 0.0);
}

INSTANTIATE_TEST_SUITE_P(
    WebRequest, BodyOfUnknownLength,
    ::testing::Values(UnknownLengthCase{"EndedByClose", 3 * WebRequest::chunkSize + 5, false, 0},
                      UnknownLengthCase{"EndedByCloseAfterWholeChunks", 2 * WebRequest::chunkSize,
                                        false, 0},
                      UnknownLengthCase{"EmptyEndedByClose", 0, false, 0},
                      UnknownLengthCase{"Chunked", 100000, true, 7000},
                      UnknownLengthCase{"ChunkedOneByteChunks", 3000, true, 1},
                      UnknownLengthCase{"ChunkedEmpty", 0, true, 4096}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST_F(WebRequestTest, ParsesJsonOfUnknownLength)
{
    for (const bool chunked : {false, true})
    {
        HttpReply reply = HttpReply::json(R"({"total": "1", "resources": [{"a": "b"}]})");
        reply.sendContentLength = false;
        reply.chunked = chunked;
        reply.chunkBytes = 5;
        server.reply("/x", reply);
        boost::property_tree::ptree tree;
        ASSERT_TRUE(request.getJson(server.url("/x"), tree)) << chunked;
        EXPECT_EQ(tree.get<std::string>("total"), "1");
    }
}

// Wherever a body ends before its framing says it is whole, the request is Interrupted
// with the bytes that arrived.
struct EarlyEndCase
{
    const char* name;
    ReplyEnding ending;
    std::size_t sentBytes;
    bool chunked;
};

void PrintTo(const EarlyEndCase& testCase, std::ostream* out)
{
    *out << testCase.name;
}

class EarlyEndOfBody : public ::testing::TestWithParam<EarlyEndCase>
{
};

TEST_P(EarlyEndOfBody, IsInterrupted)
{
    const auto& param = GetParam();
    HttpTestServer server;
    HttpReply reply = HttpReply::withStatus(200, bytesOf(20000));
    reply.ending = param.ending;
    reply.bytesBeforeEnding = param.sentBytes;
    reply.chunked = param.chunked;
    reply.chunkBytes = 3000;
    server.reply("/f", reply);
    WebRequest request;

    const std::string body = downloadText(request, server.url("/f"));

    EXPECT_EQ(request.state(), WebRequestState::Interrupted);
    EXPECT_LE(body.size(), param.sentBytes);
    if (param.ending == ReplyEnding::CloseAfterBytes)
    {
        EXPECT_EQ(body.size(), param.sentBytes);
    }
    EXPECT_TRUE(body == bytesOf(20000).substr(0, body.size()));
}

INSTANTIATE_TEST_SUITE_P(
    WebRequest, EarlyEndOfBody,
    ::testing::Values(
        EarlyEndCase{"CloseInsideAChunk", ReplyEnding::CloseAfterBytes, 10000, false},
        EarlyEndCase{"CloseAfterWholeChunks", ReplyEnding::CloseAfterBytes,
                     2 * WebRequest::chunkSize, false},
        EarlyEndCase{"CloseBeforeAnyByte", ReplyEnding::CloseAfterBytes, 0, false},
        EarlyEndCase{"Reset", ReplyEnding::ResetAfterBytes, 10000, false},
        EarlyEndCase{"ChunkedCutInsideAChunk", ReplyEnding::CloseAfterBytes, 10000, true},
        EarlyEndCase{"ChunkedCutAfterAChunk", ReplyEnding::CloseAfterBytes, 9000, true},
        EarlyEndCase{"ChunkedWithoutTheLastChunk", ReplyEnding::CloseAfterBytes, 20000, true}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST_F(WebRequestTest, EarlyEndReportsTheWholeResourceSizeAndTheProgressReached)
{
    HttpReply reply = HttpReply::withStatus(200, bytesOf(20000));
    reply.ending = ReplyEnding::CloseAfterBytes;
    reply.bytesBeforeEnding = 10000;
    server.reply("/f", reply);

    downloadText(request, server.url("/f"));

    EXPECT_EQ(request.bytesWritten(), 10000);
    EXPECT_EQ(request.expectedTotalSize(), 20000);
    EXPECT_DOUBLE_EQ(request.progress(), 0.5);
}

// Answers whose body cannot be taken as the resource: a length that is not a byte count,
// or an encoding this client does not undo. They are refused before any byte is read.
struct UnusableHeaderCase
{
    const char* name;
    std::vector<std::pair<std::string, std::string>> fields;
    const char* logged; // after "Bad response header: "
};

void PrintTo(const UnusableHeaderCase& testCase, std::ostream* out)
{
    *out << testCase.name;
}

class UnusableHeader : public ::testing::TestWithParam<UnusableHeaderCase>
{
};

TEST_P(UnusableHeader, IsRefusedAsInconsistent)
{
    HttpTestServer server;
    HttpReply reply = HttpReply::json(R"({"total": "1", "resources": []})");
    reply.sendContentLength = false;
    reply.headers.insert(reply.headers.end(), GetParam().fields.begin(), GetParam().fields.end());
    server.reply("/x", reply);
    WebRequest request;
    LogCapture log({"web"});

    request.send(server.url("/x"));
    const bool ok = request.isOk();
    const WebRequestState state = request.state();
    const bool hasData = request.hasMoreData();
    boost::property_tree::ptree tree;
    const bool parsed = request.getJson(server.url("/x"), tree);
    const std::string text = log.text();

    EXPECT_FALSE(ok);
    EXPECT_EQ(state, WebRequestState::Inconsistent);
    EXPECT_FALSE(hasData);
    EXPECT_FALSE(parsed);
    EXPECT_EQ(request.state(), WebRequestState::Inconsistent);
    EXPECT_EQ(countOf(text, std::string("Bad response header: ") + GetParam().logged + "\n"), 2u)
        << text;
}

INSTANTIATE_TEST_SUITE_P(
    WebRequest, UnusableHeader,
    ::testing::Values(
        UnusableHeaderCase{"NegativeLength", {{"Content-Length", "-5"}}, "Content-Length: -5"},
        UnusableHeaderCase{
            "LengthNotANumber", {{"Content-Length", "12abc"}}, "Content-Length: 12abc"},
        UnusableHeaderCase{"FractionalLength", {{"Content-Length", "1.5"}}, "Content-Length: 1.5"},
        UnusableHeaderCase{"SignedLength", {{"Content-Length", "+31"}}, "Content-Length: +31"},
        UnusableHeaderCase{"LengthBeyond64Bits",
                           {{"Content-Length", "99999999999999999999"}},
                           "Content-Length: 99999999999999999999"},
        UnusableHeaderCase{"TwoDifferentLengths",
                           {{"Content-Length", "31"}, {"Content-Length", "30"}},
                           "Content-Length: 30"},
        UnusableHeaderCase{"Gzip",
                           {{"Content-Length", "31"}, {"Content-Encoding", "gzip"}},
                           "Content-Encoding: gzip"},
        UnusableHeaderCase{"Brotli",
                           {{"Content-Length", "31"}, {"Content-Encoding", "br"}},
                           "Content-Encoding: br"},
        UnusableHeaderCase{"TransferEncodedOtherwise",
                           {{"Transfer-Encoding", "gzip"}},
                           "Transfer-Encoding: gzip"}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST_F(WebRequestTest, AcceptsAnIdentityEncodingAndTwoEqualLengths)
{
    HttpReply reply = HttpReply::json(R"({"a": "1"})");
    reply.sendContentLength = false;
    reply.headers.emplace_back("Content-Encoding", "Identity");
    reply.headers.emplace_back("Content-Length", "10");
    reply.headers.emplace_back("Content-Length", "10");
    server.reply("/x", reply);
    boost::property_tree::ptree tree;
    ASSERT_TRUE(request.getJson(server.url("/x"), tree));
    EXPECT_EQ(tree.get<std::string>("a"), "1");
}

// The Content-Range of a 206 is kept only when it is well formed and covers the body.
struct ContentRangeCase
{
    const char* name;
    std::string field;
    std::optional<ContentRange> expected;
    std::int64_t expectedTotal;
};

void PrintTo(const ContentRangeCase& testCase, std::ostream* out)
{
    *out << testCase.name;
}

class PartialContentRange : public ::testing::TestWithParam<ContentRangeCase>
{
};

TEST_P(PartialContentRange, IsReadStrictly)
{
    const auto& param = GetParam();
    HttpTestServer server;
    HttpReply reply = HttpReply::withStatus(206, bytesOf(4000));
    reply.headers.emplace_back("Content-Range", param.field);
    server.reply("/f", reply);
    WebRequest request;
    request.setStartOffset(1000);

    request.send(server.url("/f"));

    EXPECT_TRUE(request.isOk());
    const auto range = request.contentRange();
    ASSERT_EQ(range.has_value(), param.expected.has_value());
    if (range)
    {
        EXPECT_EQ(range->first, param.expected->first);
        EXPECT_EQ(range->last, param.expected->last);
        EXPECT_EQ(range->total, param.expected->total);
    }
    EXPECT_EQ(request.expectedTotalSize(), param.expectedTotal);
}

INSTANTIATE_TEST_SUITE_P(
    WebRequest, PartialContentRange,
    ::testing::Values(
        ContentRangeCase{"AsAsked", "bytes 1000-4999/5000", ContentRange{1000, 4999, 5000}, 5000},
        ContentRangeCase{"ElsewhereButWellFormed", "bytes 0-3999/9000", ContentRange{0, 3999, 9000},
                         9000},
        ContentRangeCase{"UnknownTotal", "bytes 1000-4999/*", ContentRange{1000, 4999, -1}, 5000},
        ContentRangeCase{"LongerThanTheBody", "bytes 1000-5999/6000", std::nullopt, 5000},
        ContentRangeCase{"EndBeyondTheTotal", "bytes 1000-4999/4000", std::nullopt, 5000},
        ContentRangeCase{"NoEnd", "bytes 1000-/5000", std::nullopt, 5000},
        ContentRangeCase{"OtherUnit", "items 1000-4999/5000", std::nullopt, 5000},
        ContentRangeCase{"NotSatisfiableForm", "bytes */5000", std::nullopt, 5000}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

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

// A JSON text of `size` bytes: an envelope whose resources are `element` repeated.
std::string repeatedResources(const std::string& element, std::size_t size)
{
    std::string text = R"({"total":1,"resources":[)" + element;
    while (text.size() + element.size() + 3 < size)
        text += "," + element;
    return text + "]}";
}

HttpReply jsonOf(std::string text, bool chunked = false, bool withLength = true)
{
    HttpReply reply = HttpReply::json(std::move(text));
    reply.chunked = chunked;
    reply.chunkBytes = 64 * 1024;
    reply.sendContentLength = withLength;
    return reply;
}

struct HostileJsonCase
{
    const char* name;
    HttpReply (*reply)();
    const char* reason; // logged after "Invalid json format Response: "
};

void PrintTo(const HostileJsonCase& testCase, std::ostream* out)
{
    *out << testCase.name;
}

class HostileJson : public ::testing::TestWithParam<HostileJsonCase>
{
};

TEST_P(HostileJson, EndsInFailureWithoutCrashing)
{
    HttpTestServer server;
    server.reply("/x", GetParam().reply());
    WebRequest request;
    boost::property_tree::ptree tree;
    LogCapture log({"web"});

    const bool parsed = request.getJson(server.url("/x"), tree);
    const std::string text = log.text();

    EXPECT_FALSE(parsed);
    const auto start = text.find("Invalid json format Response: ");
    ASSERT_NE(start, std::string::npos) << text.substr(0, 2000);
    const std::string line = text.substr(start, text.find('\n', start) - start);
    EXPECT_NE(line.find(GetParam().reason), std::string::npos) << line;
    EXPECT_TRUE(tree.empty());
}

const std::size_t sixteenMegabytes = 16 * 1024 * 1024;
// Twice the cap is enough for a body that has no stated length: the request stops reading
// just past the cap, and a smaller answer keeps the server's share of the work well inside
// the request's deadline on a slow, loaded machine.
const std::size_t twoMegabytes = 2 * 1024 * 1024;

INSTANTIATE_TEST_SUITE_P(
    WebRequest, HostileJson,
    ::testing::Values(
        HostileJsonCase{"Empty", [] { return jsonOf(""); }, ""},
        HostileJsonCase{"Garbage", [] { return jsonOf("{\"total\": 1,,}"); }, ""},
        HostileJsonCase{"Truncated", [] { return jsonOf(R"({"resources": [{"a": )"); }, ""},
        HostileJsonCase{"DeepArrays", [] { return jsonOf(std::string(1000000, '[')); },
                        "nesting deeper than 256 levels"},
        HostileJsonCase{"DeepObjects",
                        []
                        {
                            std::string text;
                            for (int level = 0; level < 100000; ++level)
                                text += "{\"a\":";
                            return jsonOf(text + "1" + std::string(100000, '}'));
                        },
                        "nesting deeper than 256 levels"},
        HostileJsonCase{"ManyNumbers", [] { return jsonOf(repeatedResources("0", 1000000)); },
                        "more than 20000 values"},
        HostileJsonCase{"ManyEmptyObjects", [] { return jsonOf(repeatedResources("{}", 1000000)); },
                        "more than 20000 values"},
        HostileJsonCase{"LargerThanTheLimit",
                        [] { return jsonOf("\"" + std::string(sixteenMegabytes, 'x') + "\""); },
                        "response of 16777218 bytes is larger than 1048576"},
        HostileJsonCase{"LargerThanTheLimitChunked",
                        [] { return jsonOf(repeatedResources("0", twoMegabytes), true); },
                        "document larger than 1048576 bytes"},
        HostileJsonCase{"LargerThanTheLimitWithoutLength",
                        [] { return jsonOf(repeatedResources("{}", twoMegabytes), false, false); },
                        "document larger than 1048576 bytes"}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST_F(WebRequestTest, ParsesALargeButLegalJsonAnswer)
{
    const std::string longText(1000000, 'x');
    server.serveJson("/x", R"({"total": "1", "brackets": "[[[{{{,,,", "quote": "\"[", "notes": ")" +
                               longText + R"("})");
    boost::property_tree::ptree tree;
    ASSERT_TRUE(request.getJson(server.url("/x"), tree));
    EXPECT_EQ(tree.get<std::string>("notes").size(), longText.size());
    EXPECT_EQ(tree.get<std::string>("brackets"), "[[[{{{,,,");
    EXPECT_EQ(tree.get<std::string>("quote"), "\"[");
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

// One test for all stalls and dribbles, run side by side, because each waits for the
// 10-second time-out or deadline.
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
    // One byte a second, never a pause long enough for a socket time-out: only the whole
    // request's deadline ends these.
    HttpReply dribbledHeader = HttpReply::json(R"({"total": "1", "resources": []})");
    dribbledHeader.dribbleHeader = true;
    dribbledHeader.dribbleBytes = 1;
    dribbledHeader.dribbleInterval = std::chrono::seconds(1);
    server.reply("/dribbled-header", dribbledHeader);
    HttpReply dribbledBody = dribbledHeader;
    dribbledBody.dribbleHeader = false;
    dribbledBody.body = R"({"total": "1", "resources": [)" + std::string(200, ' ') + "]}";
    server.reply("/dribbled-body", dribbledBody);
    LogCapture log({"web"});

    WebRequestState silentState{}, stallingState{}, stallingPastEndState{};
    WebRequestState dribbledHeaderState{}, dribbledBodyState{};
    bool dribbledHeaderParsed = true;
    bool dribbledBodyParsed = true;
    std::string stallingBody;
    const bool gaveUp = finishesBefore(
        std::chrono::seconds(60), {&server},
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
            std::thread dribbledHeaderClient(
                [&]
                {
                    WebRequest request;
                    boost::property_tree::ptree tree;
                    dribbledHeaderParsed = request.getJson(server.url("/dribbled-header"), tree);
                    dribbledHeaderState = request.state();
                });
            std::thread dribbledBodyClient(
                [&]
                {
                    WebRequest request;
                    boost::property_tree::ptree tree;
                    dribbledBodyParsed = request.getJson(server.url("/dribbled-body"), tree);
                    dribbledBodyState = request.state();
                });
            // An output already longer than the expected size: the failure
            // comes after bytesWritten passed the total.
            WebRequest request;
            std::ostringstream longOutput(bytesOf(30000), std::ios::ate);
            download(request, server.url("/stalling"), longOutput);
            stallingPastEndState = request.state();
            silentClient.join();
            stallingClient.join();
            dribbledHeaderClient.join();
            dribbledBodyClient.join();
        });

    const std::string text = log.text();
    EXPECT_TRUE(gaveUp) << "a request did not give up after its time-out";
    EXPECT_EQ(silentState, WebRequestState::ConnectionFailed);
    EXPECT_EQ(stallingState, WebRequestState::Interrupted);
    EXPECT_EQ(stallingPastEndState, WebRequestState::Inconsistent);
    EXPECT_EQ(stallingBody, bytesOf(20000).substr(0, stallingBody.size()));
    EXPECT_GE(stallingBody.size(), WebRequest::chunkSize);
    EXPECT_EQ(countOf(text, "Error connecting to " + server.url("/silent") + ": "), 1u) << text;
    EXPECT_FALSE(dribbledHeaderParsed);
    EXPECT_EQ(dribbledHeaderState, WebRequestState::ConnectionFailed);
    EXPECT_EQ(countOf(text, "Error connecting to " + server.url("/dribbled-header") +
                                ": Timeout: the request took longer than its deadline of 10 s"),
              1u)
        << text;
    EXPECT_FALSE(dribbledBodyParsed);
    EXPECT_EQ(dribbledBodyState, WebRequestState::Interrupted);
    EXPECT_EQ(countOf(text, "Transfer from " + server.url("/dribbled-body") +
                                " cut: the request took longer than its deadline of 10 s"),
              1u)
        << text;
}

// A low-speed limit ends what a server dribbles or stalls once its window has passed,
// and leaves a steady transfer alone. All run side by side.
TEST(WebRequestLowSpeed, CutsSlowTransfersAndKeepsFastOnes)
{
    const LowSpeedLimit limit{100, std::chrono::seconds(2)};
    HttpTestServer server;
    HttpReply dribbled = HttpReply::withStatus(200, bytesOf(100000));
    dribbled.dribbleBytes = 1;
    dribbled.dribbleInterval = std::chrono::milliseconds(100);
    server.reply("/dribbled", dribbled);
    HttpReply dribbledHeader = dribbled;
    dribbledHeader.dribbleHeader = true;
    server.reply("/dribbled-header", dribbledHeader);
    HttpReply stalling = HttpReply::withStatus(200, bytesOf(20000));
    stalling.ending = ReplyEnding::StallAfterBytes;
    stalling.bytesBeforeEnding = 10000;
    server.reply("/stalling", stalling);
    const std::string big = bytesOf(4 * 1024 * 1024);
    server.serveContent("/big", big);
    LogCapture log({"web"});

    auto fetch = [&](const std::string& path, WebRequestState& state, std::string& body)
    {
        WebRequest request;
        request.setLowSpeedLimit(limit);
        body = downloadText(request, server.url(path));
        state = request.state();
    };
    WebRequestState dribbledState{}, headerState{}, stallingState{}, bigState{};
    std::string dribbledBody, headerBody, stallingBody, bigBody;
    const bool ended = finishesBefore(
        std::chrono::seconds(60), {&server},
        [&]
        {
            std::thread dribbledClient([&] { fetch("/dribbled", dribbledState, dribbledBody); });
            std::thread headerClient([&] { fetch("/dribbled-header", headerState, headerBody); });
            std::thread stallingClient([&] { fetch("/stalling", stallingState, stallingBody); });
            fetch("/big", bigState, bigBody);
            dribbledClient.join();
            headerClient.join();
            stallingClient.join();
        });
    const std::string text = log.text();

    EXPECT_TRUE(ended) << "a slow transfer was not cut";
    EXPECT_EQ(dribbledState, WebRequestState::Interrupted);
    EXPECT_TRUE(dribbledBody == bytesOf(100000).substr(0, dribbledBody.size()));
    EXPECT_EQ(countOf(text, "Transfer from " + server.url("/dribbled") +
                                " cut: fewer than 100 bytes arrived in 2 s\n"),
              1u)
        << text;
    EXPECT_EQ(headerState, WebRequestState::ConnectionFailed);
    EXPECT_EQ(countOf(text, "Error connecting to " + server.url("/dribbled-header") +
                                ": Timeout: fewer than 100 bytes arrived in 2 s\n"),
              1u)
        << text;
    EXPECT_EQ(stallingState, WebRequestState::Interrupted);
    EXPECT_TRUE(stallingBody == bytesOf(10000).substr(0, stallingBody.size()));
    EXPECT_EQ(countOf(text, "Transfer from " + server.url("/stalling") +
                                " cut: no byte arrived in 2 s\n"),
              1u)
        << text;
    EXPECT_EQ(bigState, WebRequestState::Complete);
    EXPECT_TRUE(bigBody == big);
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
