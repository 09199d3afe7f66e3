#include "UpdateManager/web/WebRequest.h"

#include "tests/support/FileContent.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/PlainHttpGet.h"
#include "tests/support/TempFolder.h"
#include "tests/web/WebTestHelpers.h"

#include <Poco/Process.h>
#include <boost/filesystem.hpp>
#include <boost/filesystem/fstream.hpp>
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <thread>

using namespace Veltora::UpdateManager;
using namespace Veltora::Testing;
namespace fs = boost::filesystem;

namespace
{

struct RangeCase
{
    const char* name;
    const char* range; // nullptr: no Range field
    RangeMode mode;
    int status;
    const char* body;
    const char* contentRange; // nullptr: none expected
};

void PrintTo(const RangeCase& testCase, std::ostream* out)
{
    *out << testCase.name;
}

class ContentReply : public ::testing::TestWithParam<RangeCase>
{
};

TEST_P(ContentReply, AnswersLikeAFileServer)
{
    const auto& param = GetParam();
    RecordedRequest request;
    if (param.range != nullptr)
        request.headers.emplace_back("range", param.range);

    const HttpReply reply = HttpTestServer::contentReply("0123456789", request, param.mode);

    EXPECT_EQ(reply.status, param.status);
    EXPECT_EQ(reply.body, param.body);
    std::optional<std::string> contentRange;
    for (const auto& [name, value] : reply.headers)
        if (name == "Content-Range")
            contentRange = value;
    if (param.contentRange == nullptr)
    {
        EXPECT_EQ(contentRange, std::nullopt);
    }
    else
    {
        EXPECT_EQ(contentRange, param.contentRange);
    }
}

INSTANTIATE_TEST_SUITE_P(
    HttpTestServer, ContentReply,
    ::testing::Values(
        RangeCase{"NoRange", nullptr, RangeMode::Honour, 200, "0123456789", nullptr},
        RangeCase{"OpenEnded", "bytes=3-", RangeMode::Honour, 206, "3456789", "bytes 3-9/10"},
        RangeCase{"Closed", "bytes=3-5", RangeMode::Honour, 206, "345", "bytes 3-5/10"},
        RangeCase{"EndPastSize", "bytes=8-20", RangeMode::Honour, 206, "89", "bytes 8-9/10"},
        RangeCase{"AtTheEnd", "bytes=10-", RangeMode::Honour, 416, "", "bytes */10"},
        RangeCase{"Malformed", "bytes=x-", RangeMode::Honour, 200, "0123456789", nullptr},
        RangeCase{"Ignored", "bytes=3-", RangeMode::Ignore, 200, "0123456789", nullptr}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

// Files larger than the blocks they are sent in arrive whole, and ranges of them exactly.
TEST(HttpTestServer, ServesFolderFilesInRangesAcrossBlocks)
{
    TempFolder folder;
    std::string content(3 * 1024 * 1024 + 5, '\0');
    for (std::size_t index = 0; index < content.size(); ++index)
        content[index] = static_cast<char>(index * 7 + index / 4096);
    writeFile(folder / "installer.bin", content);
    HttpTestServer server;
    server.serveFolder(folder.path());

    const std::size_t offset = 1024 * 1024 + 3;
    const struct
    {
        const char* range;
        int status;
        std::string body;
    } cases[] = {
        {"", 200, content},
        {"bytes=1048579-", 206, content.substr(offset)},
        {"bytes=5-9", 206, content.substr(5, 5)},
        {"bytes=3145733-", 416, ""},
    };
    for (const auto& expected : cases)
    {
        SCOPED_TRACE(expected.range);
        const PlainHttpAnswer answer =
            plainHttpGet(server.port(), "/installer.bin", expected.range);
        const std::string& body = answer.body;
        EXPECT_EQ(answer.status, expected.status);
        EXPECT_TRUE(body == expected.body)
            << body.size() << " bytes, not the expected " << expected.body.size();
    }
    EXPECT_EQ(plainHttpGet(server.port(), "/missing.bin").status, 404);
}

TEST(HttpTestServer, RecordsRequestsAndAnswersUnknownPathsWith404)
{
    HttpTestServer server;
    WebRequest request;
    request.send(server.url("/unknown?q=1"));
    EXPECT_FALSE(request.isOk());
    ASSERT_EQ(server.requestCount(), 1u);
    const RecordedRequest recorded = server.lastRequest();
    EXPECT_EQ(recorded.target, "/unknown?q=1");
    EXPECT_EQ(recorded.path(), "/unknown");
    EXPECT_EQ(recorded.header("HOST"), server.hostAndPort());
}

TEST(HttpTestServer, ClosedPortRefusesConnections)
{
    WebRequest request;
    request.send("127.0.0.1:" + std::to_string(HttpTestServer::closedPort()) + "/");
    EXPECT_EQ(request.state(), WebRequestState::ConnectionFailed);
}

TEST(HttpTestServerExecutable, ServesAFolderWithRangesAndCredentials)
{
    TempFolder folder;
    fs::create_directories(folder / "www" / "api" / "resources" / "soft" / "ABC" / "linux");
    fs::ofstream(folder / "www" / "api" / "resources" / "soft" / "ABC" / "linux" / "latest")
        << R"({"total":"1","resources":[{"product_sku":"ABC"}]})";
    fs::ofstream(folder / "www" / "installer.bin") << "0123456789";
    fs::ofstream(folder / "secret") << "outside";

    Poco::ProcessHandle server = Poco::Process::launch(
        HTTP_TEST_SERVER, {(folder / "www").string(), "--port-file", (folder / "port").string(),
                           "--user", "u", "--password", "p", "--lifetime", "120"});
    std::string port;
    const bool listening = waitForPortFile(folder / "port", port);

    WebRequest request;
    const std::string base = "http://u:p@127.0.0.1:" + port;
    boost::property_tree::ptree answer;
    const bool gotJson =
        listening && request.getJson(base + "/api/resources/soft/ABC/linux/latest", answer);
    request.setStartOffset(4);
    std::ostringstream tail;
    request.send(base + "/installer.bin");
    while (request.hasMoreData())
        request.readChunk(tail);
    request.setStartOffset(0);
    const bool outsideOk = request.send(base + "/../secret").isOk();
    const bool withoutCredentialsOk =
        request.send("http://127.0.0.1:" + port + "/installer.bin").isOk();

    // By its id: killing through the handle closes it on Windows, and the wait would fail.
    Poco::Process::kill(server.id());
    server.wait();

    ASSERT_TRUE(listening);
    EXPECT_TRUE(gotJson);
    EXPECT_EQ(answer.get<std::string>("total", ""), "1");
    EXPECT_EQ(tail.str(), "456789");
    EXPECT_FALSE(outsideOk);
    EXPECT_FALSE(withoutCredentialsOk);
}

} // namespace
