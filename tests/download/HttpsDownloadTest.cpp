// Installer downloads from an https address against the loopback TLS test server: they
// resume with a range request like plain HTTP ones, and never reach an unverified server.
#include "UpdateManager/download/DownloaderBackgrounder.h"

#include "tests/download/DownloadTestFiles.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestCertificates.h"
#include "tests/support/WaitUntil.h"

#include <gtest/gtest.h>

#include <boost/filesystem/fstream.hpp>
#include <boost/filesystem/operations.hpp>

#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>

using namespace Veltora::UpdateManager;
using namespace Veltora::Testing;
namespace fs = boost::filesystem;

namespace
{
class HttpsDownload : public ::testing::Test
{
protected:
    HttpsDownload()
    {
        writeFile(folder / "reference", content);
        contentMd5 = md5sumOf(folder / "reference");
    }

    DownloaderBackgrounder::Data job(const HttpTestServer& from, std::int64_t resumeOffset) const
    {
        DownloaderBackgrounder::Data data;
        data.url = from.url("/Setup.exe");
        data.path = target.string();
        data.checksum = contentMd5;
        data.expectedSize = static_cast<std::int64_t>(content.size());
        data.resumeOffset = resumeOffset;
        return data;
    }

    // Starts the job and waits (with a deadline) until it has ended; returns the state.
    static int run(DownloaderBackgrounder& downloader, const DownloaderBackgrounder::Data& data)
    {
        downloader.start(data);
        if (!waitUntil([&] { return hasEnded(downloader); }, std::chrono::seconds(60)))
            ADD_FAILURE() << "the download did not end";
        return downloader.state();
    }

    const TestCertificates& certificates = TestCertificates::trustedByThisProcess();
    HttpTestServer server{certificates.trusted()};
    TempFolder folder;
    fs::path target = folder / "Setup.exe";
    std::string content = patternedBytes(3 * 1024 * 1024 + 123);
    std::string contentMd5;
};

// The first transfer ends early and pauses; the next job asks only for the missing bytes
// and completes the file.
TEST_F(HttpsDownload, CutTransferResumesWithARangeRequest)
{
    const std::size_t cut = 1234567;
    HttpReply shortReply = HttpReply::withStatus(200, content);
    shortReply.ending = ReplyEnding::CloseAfterBytes;
    shortReply.bytesBeforeEnding = cut;
    server.reply("/Setup.exe", shortReply);
    {
        DownloaderBackgrounder downloader("soft/SKU");
        EXPECT_EQ(run(downloader, job(server, 0)), stateOf(DownloadState::Paused));
    }
    ASSERT_TRUE(readFile(target) == content.substr(0, cut));

    server.serveContent("/Setup.exe", content);
    DownloaderBackgrounder downloader("soft/SKU");
    EXPECT_EQ(run(downloader, job(server, static_cast<std::int64_t>(cut))),
              stateOf(DownloadState::Completed));

    EXPECT_EQ(server.lastRequest().header("Range"), "bytes=" + std::to_string(cut) + "-");
    EXPECT_TRUE(readFile(target) == content);
    EXPECT_EQ(downloader.checksum(), contentMd5);
    EXPECT_EQ(downloader.progress(), 1.0);
}

// A server whose certificate is refused is unreachable: the partial file stays as it is
// for a later attempt, and the server receives no request at all.
TEST_F(HttpsDownload, RefusedCertificateKeepsThePartialFileAndSendsNothing)
{
    HttpTestServer untrusted(certificates.selfSigned());
    untrusted.serveContent("/Setup.exe", content);
    const std::string partial = content.substr(0, 5000);
    writeFile(target, partial);
    LogCapture log({"web"});
    {
        DownloaderBackgrounder downloader("soft/SKU");
        EXPECT_EQ(run(downloader, job(untrusted, 5000)), stateOf(DownloadState::Paused));
    }
    const std::string text = log.text();

    EXPECT_TRUE(readFile(target) == partial);
    EXPECT_EQ(untrusted.requestCount(), 0u);
    EXPECT_NE(text.find("Error connecting to " + untrusted.url("/Setup.exe") + ": "),
              std::string::npos)
        << text;
}

} // namespace
