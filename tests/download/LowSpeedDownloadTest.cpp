#include "UpdateManager/download/DownloaderBackgrounder.h"

#include "tests/download/DownloadTestFiles.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TextSearch.h"
#include "tests/support/WaitUntil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

using namespace Veltora::UpdateManager;
using namespace Veltora::Testing;
namespace fs = boost::filesystem;

namespace
{

// The run sets UPDATER_LOW_SPEED_LIMIT=1024/2 (see CMakeLists.txt).
TEST(LowSpeedDownload, TakesItsLimitFromTheEnvironment)
{
    ASSERT_STREQ(std::getenv("UPDATER_LOW_SPEED_LIMIT"), "1024/2");
    const LowSpeedLimit limit = LowSpeedLimit::fromEnvironment();
    EXPECT_EQ(limit.bytes, 1024);
    EXPECT_EQ(limit.window, std::chrono::seconds(2));
}

struct SlowCase
{
    const char* path;
    HttpReply reply;
    std::size_t keptAtLeast; // whole chunks of the first bytes stay in the file
    const char* logged;
};

// A server that dribbles or stalls cannot hold a download open: once the window has passed
// with too few bytes the job pauses, keeping what arrived, and the next job resumes it.
// All cases run side by side, each on its own download worker.
TEST(LowSpeedDownload, SlowTransfersPauseAndResume)
{
    const std::string content = patternedBytes(300000, 9);
    TempFolder scratch;
    const std::string contentMd5 = md5sumOf(content, scratch / "reference");
    HttpTestServer server;
    HttpReply dribbled = HttpReply::withStatus(200, content);
    dribbled.dribbleBytes = 64;
    dribbled.dribbleInterval = std::chrono::milliseconds(250);
    HttpReply dribbledHeader = dribbled;
    dribbledHeader.dribbleHeader = true;
    dribbledHeader.dribbleBytes = 1;
    HttpReply stalled = HttpReply::withStatus(200, content);
    stalled.ending = ReplyEnding::StallAfterBytes;
    stalled.bytesBeforeEnding = 100000;
    const std::vector<SlowCase> cases{
        {"/dribbled.exe", dribbled, 0, " cut: fewer than 1024 bytes arrived in 2 s"},
        {"/dribbled-header.exe", dribbledHeader, 0,
         ": Timeout: fewer than 1024 bytes arrived in 2 s"},
        {"/stalled.exe", stalled, 100000 / 8192 * 8192, " cut: no byte arrived in 2 s"}};
    for (const SlowCase& slow : cases)
        server.reply(slow.path, slow.reply);
    TempFolder folder;
    LogCapture log({"web", "download"});

    std::vector<std::unique_ptr<DownloaderBackgrounder>> downloaders;
    auto jobFor = [&](const SlowCase& slow)
    {
        DownloaderBackgrounder::Data data;
        data.url = server.url(slow.path);
        data.path = (folder / slow.path).string();
        data.checksum = contentMd5;
        data.expectedSize = static_cast<std::int64_t>(content.size());
        return data;
    };
    for (const SlowCase& slow : cases)
    {
        downloaders.push_back(std::make_unique<DownloaderBackgrounder>(slow.path));
        downloaders.back()->start(jobFor(slow));
    }
    for (const auto& downloader : downloaders)
        EXPECT_TRUE(waitUntil([&] { return hasEnded(*downloader); }, std::chrono::seconds(60)));

    for (std::size_t index = 0; index < cases.size(); ++index)
    {
        const SlowCase& slow = cases[index];
        EXPECT_EQ(downloaders[index]->state(), stateOf(DownloadState::Paused)) << slow.path;
        const std::string partial = readFile(folder / slow.path);
        EXPECT_GE(partial.size(), slow.keptAtLeast) << slow.path;
        EXPECT_LT(partial.size(), content.size()) << slow.path;
        EXPECT_TRUE(partial == content.substr(0, partial.size())) << slow.path;

        server.serveContent(slow.path, content);
        auto resume = jobFor(slow);
        resume.resumeOffset = static_cast<std::int64_t>(partial.size());
        downloaders[index]->start(resume);
    }
    for (std::size_t index = 0; index < cases.size(); ++index)
    {
        const SlowCase& slow = cases[index];
        EXPECT_TRUE(
            waitUntil([&] { return hasEnded(*downloaders[index]); }, std::chrono::seconds(60)));
        EXPECT_EQ(downloaders[index]->state(), stateOf(DownloadState::Completed)) << slow.path;
        EXPECT_TRUE(readFile(folder / slow.path) == content) << slow.path;
    }
    downloaders.clear();
    const std::string text = log.text();
    for (const SlowCase& slow : cases)
        EXPECT_EQ(countOf(text, server.url(slow.path) + slow.logged), 1u) << slow.path << "\n"
                                                                          << text;
}

} // namespace
