#include "UpdateManager/download/DownloaderBackgrounder.h"

#include "tests/download/DownloadTestFiles.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempFolder.h"
#include "tests/support/WaitUntil.h"

#include <gtest/gtest.h>

#include <boost/algorithm/string/case_conv.hpp>
#include <boost/algorithm/string/replace.hpp>
#include <boost/filesystem/fstream.hpp>
#include <boost/filesystem/operations.hpp>

#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/StreamSocket.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <thread>

using namespace Veltora::UpdateManager;
using namespace Veltora::Testing;
using Veltora::Testing::HttpReply;
using Veltora::Testing::HttpTestServer;
using Veltora::Testing::RangeMode;
using Veltora::Testing::ReplyEnding;
namespace fs = boost::filesystem;

namespace
{
bool waitFor(const std::function<bool()>& condition)
{
    return waitUntil(condition, std::chrono::seconds(30));
}

class HttpDownload : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        content = new std::string(patternedBytes(3 * 1024 * 1024 + 123, 11));
        Veltora::Testing::TempFolder scratch;
        contentMd5 = new std::string(md5sumOf(*content, scratch / "reference"));
    }
    static void TearDownTestSuite()
    {
        delete content;
        delete contentMd5;
    }

    DownloaderBackgrounder::Data job(std::int64_t resumeOffset = 0,
                                     const std::string& serverPath = "/Setup.exe") const
    {
        DownloaderBackgrounder::Data data;
        data.url = server.url(serverPath);
        data.path = target.string();
        data.checksum = *contentMd5;
        data.expectedSize = static_cast<std::int64_t>(content->size());
        data.resumeOffset = resumeOffset;
        return data;
    }

    // Starts the job and waits until it has ended; returns the final state.
    static int run(DownloaderBackgrounder& downloader, const DownloaderBackgrounder::Data& data)
    {
        downloader.start(data);
        EXPECT_TRUE(waitFor([&] { return hasEnded(downloader); }));
        return downloader.state();
    }

    std::optional<std::string> lastRange() const { return server.lastRequest().header("Range"); }

    static std::string* content;
    static std::string* contentMd5;
    HttpTestServer server;
    Veltora::Testing::TempFolder folder;
    fs::path target = folder / "Setup.exe";
};

std::string* HttpDownload::content = nullptr;
std::string* HttpDownload::contentMd5 = nullptr;

TEST_F(HttpDownload, FreshDownloadIsCompletedAndVerified)
{
    server.serveContent("/Setup.exe", *content);
    DownloaderBackgrounder downloader("soft/SKU");
    EXPECT_EQ(downloader.state(), stateOf(DownloadState::Idle));
    EXPECT_EQ(downloader.progress(), 0.0);

    EXPECT_EQ(run(downloader, job()), stateOf(DownloadState::Completed));
    EXPECT_EQ(downloader.checksum(), *contentMd5);
    EXPECT_EQ(downloader.progress(), 1.0);
    EXPECT_EQ(lastRange(), std::nullopt);
    EXPECT_TRUE(readBytes(target) == *content);
}

struct ResumeCase
{
    const char* name;
    std::optional<std::size_t> partialBytes; // a partial file on disk, of this size
    bool partialIsPrefix;                    // holds the real first bytes, or other bytes
    std::int64_t resumeOffset;
    RangeMode range;
    std::optional<std::string> expectedRange;
    bool bodyTransferred = true;
};

void PrintTo(const ResumeCase& testCase, std::ostream* out)
{
    *out << testCase.name;
}

class Resume : public HttpDownload, public ::testing::WithParamInterface<ResumeCase>
{
};

TEST_P(Resume, EndsWithTheWholeFile)
{
    const ResumeCase& testCase = GetParam();
    server.serveContent("/Setup.exe", *content, testCase.range);
    if (testCase.partialBytes)
        writeBytes(target, testCase.partialIsPrefix ? content->substr(0, *testCase.partialBytes)
                                                    : patternedBytes(*testCase.partialBytes, 99));
    DownloaderBackgrounder downloader("soft/SKU");

    EXPECT_EQ(run(downloader, job(testCase.resumeOffset)), stateOf(DownloadState::Completed));
    EXPECT_EQ(lastRange(), testCase.expectedRange);
    EXPECT_TRUE(readBytes(target) == *content);
    EXPECT_EQ(downloader.checksum(), *contentMd5);
    if (testCase.bodyTransferred)
    {
        EXPECT_EQ(downloader.progress(), 1.0);
    }
}

const std::int64_t fullSize = 3 * 1024 * 1024 + 123;

INSTANTIATE_TEST_SUITE_P(
    Cases, Resume,
    ::testing::Values(
        ResumeCase{"PartialOfTheExpectedSize", 1000000, true, 1000000, RangeMode::Honour,
                   "bytes=1000000-"},
        ResumeCase{"PartialOfAnotherSize", 1000000, false, 999999, RangeMode::Honour, std::nullopt},
        ResumeCase{"PartialGone", std::nullopt, true, 5000, RangeMode::Honour, std::nullopt},
        ResumeCase{"AlreadyComplete", static_cast<std::size_t>(fullSize), true, fullSize,
                   RangeMode::Honour, "bytes=" + std::to_string(fullSize) + "-", false},
        ResumeCase{"ServerIgnoresRange", 1000000, true, 1000000, RangeMode::Ignore,
                   "bytes=1000000-"},
        ResumeCase{"ServerIgnoresRangeWithAnotherPrefix", 1000000, false, 1000000,
                   RangeMode::Ignore, "bytes=1000000-"}),
    [](const ::testing::TestParamInfo<ResumeCase>& caseInfo) { return caseInfo.param.name; });

TEST_F(HttpDownload, IgnoredRangeRestartsTheFileEvenWithoutAnExpectedSize)
{
    server.serveContent("/Setup.exe", *content, RangeMode::Ignore);
    writeBytes(target, content->substr(0, 1000000));
    auto data = job(1000000);
    data.expectedSize = 0;
    data.checksum.clear();
    DownloaderBackgrounder downloader("soft/SKU");
    EXPECT_EQ(run(downloader, data), stateOf(DownloadState::Completed));
    EXPECT_TRUE(readBytes(target) == *content);
}

TEST_F(HttpDownload, InterruptedTransferKeepsItsBytesForTheNextJob)
{
    const std::size_t cut = 1234567;
    HttpReply shortReply = HttpReply::withStatus(200, *content);
    shortReply.ending = ReplyEnding::CloseAfterBytes;
    shortReply.bytesBeforeEnding = cut;
    server.reply("/Setup.exe", shortReply);
    Veltora::Testing::LogCapture log({"download"});
    {
        DownloaderBackgrounder downloader("soft/SKU");
        // The early end looks like a complete body to the request layer; the size check
        // catches it.
        EXPECT_EQ(run(downloader, job()), stateOf(DownloadState::Failed));
    }
    const std::string text = log.text();
    EXPECT_NE(text.find("The size of " + target.string() + " is " + std::to_string(cut) +
                        " while " + std::to_string(content->size()) + " is expected"),
              std::string::npos)
        << text;
    ASSERT_TRUE(readBytes(target) == content->substr(0, cut));

    server.serveContent("/Setup.exe", *content);
    DownloaderBackgrounder downloader("soft/SKU");
    EXPECT_EQ(run(downloader, job(static_cast<std::int64_t>(cut))),
              stateOf(DownloadState::Completed));
    EXPECT_EQ(lastRange(), "bytes=" + std::to_string(cut) + "-");
    EXPECT_TRUE(readBytes(target) == *content);
}

TEST_F(HttpDownload, UnreachableServerPausesAndKeepsThePartialFile)
{
    const std::string partial = content->substr(0, 5000);
    writeBytes(target, partial);
    DownloaderBackgrounder downloader("soft/SKU");
    auto data = job(5000);
    data.url = "http://127.0.0.1:" + std::to_string(HttpTestServer::closedPort()) + "/Setup.exe";
    EXPECT_EQ(run(downloader, data), stateOf(DownloadState::Paused));
    EXPECT_TRUE(readBytes(target) == partial);
}

TEST_F(HttpDownload, RefusedAnswersFail)
{
    Veltora::Testing::LogCapture log({"download"});
    {
        DownloaderBackgrounder downloader("soft/SKU");
        for (const int status : {404, 500, 301})
        {
            server.reply("/Setup.exe", HttpReply::withStatus(status, "refused"));
            EXPECT_EQ(run(downloader, job()), stateOf(DownloadState::Failed)) << status;
        }
    }
    const std::string text = log.text();
    EXPECT_NE(text.find("Download complete (\"" + target.string() + "\")"), std::string::npos)
        << text;
    EXPECT_EQ(text.find("Checksum : "), std::string::npos) << text;
}

struct CheckCase
{
    const char* name;
    std::function<std::string(const std::string&)> expectedChecksum;
    bool sendContentLength;
    DownloadState expectedState;
    std::vector<std::string> logged; // "PATH" stands for the target path
    bool checksumRecorded;
};

void PrintTo(const CheckCase& testCase, std::ostream* out)
{
    *out << testCase.name;
}

class Verification : public HttpDownload, public ::testing::WithParamInterface<CheckCase>
{
};

TEST_P(Verification, DecidesTheFinalState)
{
    const CheckCase& testCase = GetParam();
    HttpReply reply = HttpReply::withStatus(200, *content);
    reply.sendContentLength = testCase.sendContentLength;
    server.reply("/Setup.exe", reply);
    auto data = job();
    data.checksum = testCase.expectedChecksum(*contentMd5);
    Veltora::Testing::LogCapture log({"download"});
    {
        DownloaderBackgrounder downloader("soft/SKU");
        EXPECT_EQ(run(downloader, data), stateOf(testCase.expectedState));
        EXPECT_EQ(downloader.checksum(), testCase.checksumRecorded ? *contentMd5 : "");
    }
    const std::string text = log.text();
    for (std::string expected : testCase.logged)
    {
        boost::algorithm::replace_all(expected, "PATH", target.string());
        boost::algorithm::replace_all(expected, "MD5", *contentMd5);
        EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Verification,
    ::testing::Values(
        CheckCase{"Matching",
                  [](const std::string& md5) { return md5; },
                  true,
                  DownloadState::Completed,
                  {"Checksum : 'MD5'. Expected: 'MD5'"},
                  true},
        CheckCase{"CapitalsNeverMatch",
                  [](const std::string& md5) { return boost::algorithm::to_upper_copy(md5); },
                  true,
                  DownloadState::Failed,
                  {"Bad checksum for PATH"},
                  true},
        CheckCase{"SpacesNeverMatch",
                  [](const std::string& md5) { return " " + md5 + " "; },
                  true,
                  DownloadState::Failed,
                  {"Bad checksum for PATH"},
                  true},
        CheckCase{"NoExpectedChecksum",
                  [](const std::string&) { return std::string(); },
                  true,
                  DownloadState::Completed,
                  {"No expected checksum for PATH. Can't verify download."},
                  false},
        // Without a length the request layer reads no body: an empty file, unverified.
        CheckCase{"NoContentLength",
                  [](const std::string&) { return std::string(); },
                  false,
                  DownloadState::Completed,
                  {"Invalid expected size for PATH (-1)", "No expected checksum for PATH"},
                  false}),
    [](const ::testing::TestParamInfo<CheckCase>& caseInfo) { return caseInfo.param.name; });

TEST_F(HttpDownload, LogsTheStartWithTheQuotedTarget)
{
    server.serveContent("/Setup.exe", *content);
    Veltora::Testing::LogCapture log({"download"});
    {
        DownloaderBackgrounder downloader("soft/SKU");
        run(downloader, job());
    }
    const std::string text = log.text();
    EXPECT_NE(text.find("HttpDownload Start " + server.url("/Setup.exe") + " -> \"" +
                        target.string() + "\" (expected size: " + std::to_string(content->size()) +
                        ", checksum: " + *contentMd5 + "\n"),
              std::string::npos)
        << text;
}

TEST_F(HttpDownload, UnparsableAddressFailsWithoutTouchingTheDisk)
{
    writeBytes(target, "0123456789");
    Veltora::Testing::LogCapture log({"download"});
    auto data = job(3);
    data.url = "http://127.0.0.1:99999999/Setup.exe";
    {
        DownloaderBackgrounder downloader("soft/SKU");
        EXPECT_EQ(run(downloader, data), stateOf(DownloadState::Failed));
    }
    EXPECT_EQ(readBytes(target), "0123456789");
    const std::string text = log.text();
    EXPECT_NE(text.find("Error while downloading " + data.url + " to " + target.string() + " : "),
              std::string::npos)
        << text;
}

TEST_F(HttpDownload, TargetThatCannotBeWrittenFailsOnItsSize)
{
    server.serveContent("/Setup.exe", *content);
    auto data = job();
    data.path = (folder / "missing folder" / "Setup.exe").string();
    DownloaderBackgrounder downloader("soft/SKU");
    EXPECT_EQ(run(downloader, data), stateOf(DownloadState::Failed));
    EXPECT_FALSE(fs::exists(folder / "missing folder"));
}

TEST_F(HttpDownload, AddressesAreCompletedOnlyWhenTheyLackHttp)
{
    server.serveContent("/Setup.exe", *content);
    Veltora::Testing::LogCapture log({"download"});
    const std::string hostAndPath = server.hostAndPort() + "/Setup.exe";
    {
        DownloaderBackgrounder downloader("soft/SKU");
        for (const std::string& url : {hostAndPath, "HTTP://" + hostAndPath})
        {
            auto data = job();
            data.url = url;
            fs::remove(target);
            EXPECT_EQ(run(downloader, data), stateOf(DownloadState::Completed)) << url;
        }
    }
    const std::string text = log.text();
    EXPECT_NE(text.find("HttpDownload Start http://" + hostAndPath + " -> "), std::string::npos)
        << text;
    EXPECT_NE(text.find("HttpDownload Start HTTP://" + hostAndPath + " -> "), std::string::npos)
        << text;
}

// An ftp address queues a job that does nothing: the next job runs, and the server sees
// only that one.
TEST_F(HttpDownload, FtpAddressQueuesAJobThatDoesNothing)
{
    server.serveContent("/Setup.exe", *content);
    Veltora::Testing::LogCapture log({"download"});
    {
        DownloaderBackgrounder downloader("soft/SKU");
        auto ftp = job();
        ftp.url = "FTP://" + server.hostAndPort() + "/Setup.exe";
        downloader.start(ftp);
        EXPECT_EQ(downloader.state(), stateOf(DownloadState::Idle));
        EXPECT_EQ(run(downloader, job()), stateOf(DownloadState::Completed));
    }
    EXPECT_EQ(server.requestCount(), 1u);
    const std::string text = log.text();
    EXPECT_EQ(text.find("HttpDownload Start FTP"), std::string::npos) << text;
}

TEST_F(HttpDownload, StopWhileIdleChangesNothing)
{
    server.serveContent("/Setup.exe", *content);
    DownloaderBackgrounder downloader("soft/SKU");
    downloader.stop(false);
    downloader.stop(true);
    EXPECT_EQ(run(downloader, job()), stateOf(DownloadState::Completed));
}

// A server that sends part of the body and then keeps the connection silent: the
// transfer is under way and stays so until the server stops.
class StalledTransfer : public HttpDownload
{
protected:
    void SetUp() override
    {
        HttpReply stalled = HttpReply::withStatus(206, content->substr(resumeAt));
        stalled.headers.emplace_back("Content-Range", "bytes " + std::to_string(resumeAt) + "-" +
                                                          std::to_string(content->size() - 1) +
                                                          "/" + std::to_string(content->size()));
        stalled.ending = ReplyEnding::StallAfterBytes;
        stalled.bytesBeforeEnding = sentBeforeStall;
        server.reply("/Setup.exe", stalled);
        writeBytes(target, content->substr(0, resumeAt));
    }

    // Waits until the transfer stands still: every whole 8192-byte chunk sent before the
    // stall is in the file, and the read of the last, partial chunk waits for more.
    bool waitForStall(const DownloaderBackgrounder& downloader) const
    {
        const std::size_t wholeChunks = sentBeforeStall / 8192 * 8192;
        const double stalledAt =
            static_cast<double>(resumeAt + wholeChunks) / static_cast<double>(content->size());
        return waitFor([&] { return downloader.progress() == stalledAt; });
    }

    std::string partialContent() const { return content->substr(0, resumeAt + sentBeforeStall); }

    std::size_t resumeAt = 400000;
    std::size_t sentBeforeStall = 1024 * 1024 + 5;
};

TEST_F(StalledTransfer, ProgressIsTheFractionOfTheWholeFile)
{
    DownloaderBackgrounder downloader("soft/SKU");
    downloader.start(job(static_cast<std::int64_t>(resumeAt)));
    EXPECT_TRUE(waitForStall(downloader));
    EXPECT_EQ(downloader.state(), stateOf(DownloadState::Downloading));
    server.stop();
}

// The stop request is seen after the last, partial chunk; without it the shortened body
// would go to the check and fail on its size.
TEST_F(StalledTransfer, StopWithWaitingReturnsPausedAndKeepsThePartialFile)
{
    Veltora::Testing::LogCapture log({"download"});
    {
        DownloaderBackgrounder downloader("soft/SKU");
        downloader.start(job(static_cast<std::int64_t>(resumeAt)));
        ASSERT_TRUE(waitForStall(downloader));
        downloader.stop(false);
        server.stop(); // ends the read that waits for more bytes
        downloader.stop(true);
        EXPECT_EQ(downloader.state(), stateOf(DownloadState::Paused));
    }
    EXPECT_TRUE(readBytes(target) == partialContent());
    const std::string text = log.text();
    EXPECT_NE(text.find("Download complete (\"" + target.string() + "\")"), std::string::npos)
        << text;
    EXPECT_EQ(text.find("The size of "), std::string::npos) << text;
}

TEST_F(StalledTransfer, SecondStartIsIdleAtOnceAndRunsAfterTheFirst)
{
    HttpTestServer otherServer;
    otherServer.serveContent("/Setup.exe", *content);
    DownloaderBackgrounder downloader("soft/SKU");
    downloader.start(job(static_cast<std::int64_t>(resumeAt)));
    ASSERT_TRUE(waitForStall(downloader));
    ASSERT_EQ(downloader.state(), stateOf(DownloadState::Downloading));

    auto second = job();
    second.url = otherServer.url("/Setup.exe");
    second.path = (folder / "Second.exe").string();
    downloader.start(second);
    EXPECT_EQ(downloader.state(), stateOf(DownloadState::Idle));
    EXPECT_EQ(otherServer.requestCount(), 0u);

    server.stop();
    ASSERT_TRUE(waitFor([&] { return downloader.state() == stateOf(DownloadState::Completed); }));
    EXPECT_EQ(otherServer.requestCount(), 1u);
    EXPECT_TRUE(readBytes(folder / "Second.exe") == *content);
    EXPECT_TRUE(readBytes(target) == partialContent());
}

// Answers one request with a body announced as a terabyte and streams patterned bytes for
// as long as the client reads, so a transfer ends only when the client stops it.
class EndlessBodyServer
{
public:
    EndlessBodyServer()
        : listener(Poco::Net::SocketAddress("127.0.0.1", 0)), thread([this] { serve(); })
    {
    }
    ~EndlessBodyServer()
    {
        stopping = true;
        thread.join();
    }
    std::string url() const
    {
        return "http://127.0.0.1:" + std::to_string(listener.address().port()) + "/Setup.exe";
    }
    // The first `size` bytes of the endless body: a pattern of 4 MiB, repeated.
    static std::string bodyStart(std::size_t size)
    {
        const std::string pattern = patternedBytes(patternSize, 5);
        std::string bytes;
        while (bytes.size() < size)
            bytes += pattern.substr(0, size - bytes.size());
        return bytes;
    }

private:
    static constexpr std::size_t pieceSize = 64 * 1024;
    static constexpr std::size_t patternSize = 4 * 1024 * 1024;

    void serve()
    {
        const Poco::Timespan interval(0, 10000);
        while (!stopping && !listener.poll(interval, Poco::Net::Socket::SELECT_READ))
        {
        }
        if (stopping)
            return;
        Poco::Net::StreamSocket socket = listener.acceptConnection();
        char head[4096];
        socket.receiveBytes(head, sizeof(head));
        const std::string header =
            "HTTP/1.1 200 OK\r\nContent-Length: 1099511627776\r\nConnection: close\r\n\r\n";
        socket.sendBytes(header.data(), static_cast<int>(header.size()));
        const std::string pattern = bodyStart(patternSize);
        std::size_t offset = 0;
        while (!stopping)
        {
            try
            {
                if (!socket.poll(interval, Poco::Net::Socket::SELECT_WRITE))
                    continue;
                const auto piece = std::min(pieceSize, pattern.size() - offset);
                const int sent = socket.sendBytes(pattern.data() + offset, static_cast<int>(piece),
                                                  MSG_NOSIGNAL);
                if (sent <= 0)
                    return;
                offset = (offset + static_cast<std::size_t>(sent)) % pattern.size();
            }
            catch (const Poco::Exception&)
            {
                return;
            }
        }
    }

    Poco::Net::ServerSocket listener;
    std::atomic<bool> stopping{false};
    std::thread thread;
};

// The transfer never ends by itself, so only the destruction can end it; the job queued
// behind it must not run.
TEST_F(HttpDownload, DestructionStopsTheTransferAndDiscardsQueuedJobs)
{
    EndlessBodyServer endless;
    server.serveContent("/Setup.exe", *content);
    auto downloader = std::make_unique<DownloaderBackgrounder>("soft/SKU");
    auto first = job();
    first.url = endless.url();
    downloader->start(first);
    auto queued = job();
    queued.path = (folder / "Queued.exe").string();
    downloader->start(queued);
    ASSERT_TRUE(waitFor([&] { return fs::exists(target) && fs::file_size(target) > 0; }));

    downloader.reset();

    EXPECT_EQ(server.requestCount(), 0u);
    EXPECT_FALSE(fs::exists(folder / "Queued.exe"));
    const std::string partial = readBytes(target);
    EXPECT_GT(partial.size(), 0u);
    EXPECT_TRUE(partial == EndlessBodyServer::bodyStart(partial.size()));
}

} // namespace
