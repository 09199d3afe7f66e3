// Downloads started, paused, resumed and refused by the manager, against the real server
// and real files.

#include "tests/manager/ManagerHarness.h"

using namespace Veltora::UpdateManager;
using namespace Veltora::Testing;

namespace
{
std::vector<std::string> rangesAsked(const HttpTestServer& server, const std::string& path)
{
    std::vector<std::string> ranges;
    for (const RecordedRequest& request : server.requests())
        if (request.path() == path)
            ranges.push_back(request.header("Range").value_or("none"));
    return ranges;
}

class DownloadRoad : public ManagerTest
{
protected:
    bool tickUntilSettled()
    {
        return tickUntil([&] { return statusOf(alpha) != DownloadInProgress; });
    }
};

struct FailingDownload
{
    const char* name;
    std::function<void(const fs::path& downloads, HttpTestServer&, Release&)> arrange;
    std::string reportPrefix; // a message of the manager's own, when it reports one
};

void PrintTo(const FailingDownload& testCase, std::ostream* out)
{
    *out << testCase.name;
}

class FailingDownloadRoad : public DownloadRoad,
                            public ::testing::WithParamInterface<FailingDownload>
{
};
} // namespace

TEST_P(FailingDownloadRoad, EndsInDownloadError)
{
    createManager();
    Release release;
    serveInstaller();
    GetParam().arrange(downloads, *server, release);
    publish(release);
    manager().addProduct(alpha, "0.0");
    ASSERT_TRUE(manager().launchDownload(alpha, true));
    ASSERT_TRUE(tickUntilSettled());
    EXPECT_EQ(statusOf(alpha), DownloadError);
    EXPECT_FALSE(fs::is_regular_file(installerFile().string() + ".confirm"));
    const std::vector<std::string> events = journal().entries;

    const std::vector<LogLine> log = finish();
    EXPECT_THAT(messagesStartingWith(log, "State for product"),
                ElementsAre("State for product ALPHA (soft) switch from download in progress to "
                            "download error"));
    EXPECT_EQ(entriesStartingWith(events, "changed").back(), "changed ALPHA download error");
    EXPECT_TRUE(entriesStartingWith(events, "progress ALPHA finished").empty());
    if (!GetParam().reportPrefix.empty())
    {
        EXPECT_EQ(messagesStartingWith(log, GetParam().reportPrefix).size(), 1u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Manager, FailingDownloadRoad,
    ::testing::Values(FailingDownload{"WrongChecksum",
                                      [](const fs::path&, HttpTestServer&, Release& release)
                                      { release.checksum = std::string(32, '0'); },
                                      {}},
                      FailingDownload{"InstallerNotOnServer",
                                      [](const fs::path&, HttpTestServer& server, Release& release)
                                      { release.permalink = server.url("/files/Missing.exe"); },
                                      {}},
                      FailingDownload{"ServerError",
                                      [](const fs::path&, HttpTestServer& server, Release&) {
                                          server.reply("/files/Setup.exe",
                                                       HttpReply::withStatus(500));
                                      },
                                      {}},
                      // The confirm file's place is taken by a folder, so it cannot be written.
                      FailingDownload{"ConfirmFileCannotBeWritten",
                                      [](const fs::path& folder, HttpTestServer&, Release&)
                                      { fs::create_directories(folder / "Setup.exe.confirm"); },
                                      " Could not write confirm file "}),
    [](const ::testing::TestParamInfo<FailingDownload>& param) { return param.param.name; });

TEST_F(DownloadRoad, ServerCuttingTheConnectionPausesAndTheResumeCompletesTheFile)
{
    createManager();
    const std::size_t cut = 3 * 8192;
    auto replies = std::make_shared<std::atomic<int>>(0);
    server->on("/files/Setup.exe",
               [this, replies, cut](const RecordedRequest& request)
               {
                   if ((*replies)++ > 0)
                       return HttpTestServer::contentReply(installerContent, request,
                                                           RangeMode::Honour);
                   HttpReply reply = HttpReply::withStatus(200, installerContent);
                   reply.ending = ReplyEnding::CloseAfterBytes;
                   reply.bytesBeforeEnding = cut;
                   return reply;
               });
    publish(Release{});
    reactLikeWindow(alpha);
    manager().addProduct(alpha, "0.0");
    ASSERT_TRUE(manager().launchDownload(alpha, true));
    ASSERT_TRUE(tickUntil(
        [&]
        { return !entriesStartingWith(journal().entries, "progress ALPHA finished").empty(); }));

    EXPECT_EQ(view.resumes, 1);
    EXPECT_EQ(readFile(installerFile()), installerContent) << "resumed file differs";
    EXPECT_THAT(rangesAsked(*server, "/files/Setup.exe"),
                ElementsAre("none", "bytes=" + std::to_string(cut) + "-"));
    const std::vector<LogLine> log = finish();
    EXPECT_THAT(messagesStartingWith(log, "State for product"),
                ElementsAre("State for product ALPHA (soft) switch from download in progress to "
                            "download paused",
                            "State for product ALPHA (soft) switch from download in progress to "
                            "installer available"));
}

struct PartialFileCase
{
    const char* name;
    bool force;
    bool resumes;
};

void PrintTo(const PartialFileCase& testCase, std::ostream* out)
{
    *out << testCase.name;
}

class PartialFileRoad : public DownloadRoad, public ::testing::WithParamInterface<PartialFileCase>
{
};

// A partial installer is resumed by a plain launch and thrown away by a forced one.
TEST_P(PartialFileRoad, LaunchEitherResumesOrRestarts)
{
    createManager();
    serveInstaller();
    publish(Release{});
    const std::size_t present = 1000;
    writeFile(installerFile(), installerContent.substr(0, present));
    manager().addProduct(alpha, "0.0");
    ASSERT_EQ(statusOf(alpha), DownloadPaused);
    ASSERT_EQ(manager().getProductInfo(alpha).installer.downloadedBytes(),
              static_cast<std::int64_t>(present));

    ASSERT_TRUE(manager().launchDownload(alpha, GetParam().force));
    ASSERT_TRUE(tickUntilSettled());
    EXPECT_EQ(statusOf(alpha), InstallerAvailable);
    EXPECT_EQ(readFile(installerFile()), installerContent);
    EXPECT_THAT(rangesAsked(*server, "/files/Setup.exe"),
                ElementsAre(GetParam().resumes ? "bytes=" + std::to_string(present) + "-"
                                               : std::string("none")));
}

INSTANTIATE_TEST_SUITE_P(Manager, PartialFileRoad,
                         ::testing::Values(PartialFileCase{"Resumed", false, true},
                                           PartialFileCase{"Restarted", true, false}),
                         [](const ::testing::TestParamInfo<PartialFileCase>& param)
                         { return param.param.name; });

TEST_F(DownloadRoad, MissingDownloadFolderIsCreatedWhenItsParentExists)
{
    fs::remove_all(downloads);
    createManager();
    serveInstaller();
    publish(Release{});
    manager().addProduct(alpha, "0.0");
    ASSERT_TRUE(manager().launchDownload(alpha, true));
    EXPECT_TRUE(fs::is_directory(downloads));
    ASSERT_TRUE(tickUntilSettled());
    EXPECT_EQ(statusOf(alpha), InstallerAvailable);
}

TEST_F(DownloadRoad, DownloadFolderThatCannotBeCreatedRefusesTheLaunch)
{
    createManager();
    serveInstaller();
    publish(Release{});
    // A name longer than any file system allows: the folder can never be made.
    const fs::path impossible = root / std::string(300, 'd');
    ASSERT_TRUE(manager().setDownloadFolder(impossible.string()));
    manager().addProduct(alpha, "0.0");
    ASSERT_EQ(statusOf(alpha), UpdateNeeded);
    EXPECT_FALSE(manager().launchDownload(alpha, true));
    EXPECT_EQ(statusOf(alpha), UpdateNeeded);
    EXPECT_EQ(server->requestCount(), 1u) << "only the resources query";

    const std::vector<LogLine> log = finish();
    const auto refusals = messagesStartingWith(log, "Can't create download dir '");
    ASSERT_EQ(refusals.size(), 1u);
    EXPECT_NE(refusals[0].find("': "), std::string::npos) << refusals[0];
}

// The download folder is a regular file: nothing can be stored below it.
TEST_F(DownloadRoad, DownloadFolderThatCannotBeWrittenEndsInDownloadError)
{
    createManager();
    serveInstaller();
    publish(Release{});
    const fs::path notAFolder = root / "NotAFolder";
    writeFile(notAFolder, "occupied");
    ASSERT_TRUE(manager().setDownloadFolder(notAFolder.string()));
    manager().addProduct(alpha, "0.0");
    ASSERT_TRUE(manager().launchDownload(alpha, true));
    ASSERT_TRUE(tickUntilSettled());
    EXPECT_EQ(statusOf(alpha), DownloadError);
    EXPECT_EQ(readFile(notAFolder), "occupied");
}

TEST_F(DownloadRoad, DownloadFolderCannotChangeWhileDownloading)
{
    createManager();
    serveGatedInstaller();
    publish(Release{});
    manager().addProduct(alpha, "0.0");
    ASSERT_TRUE(manager().launchDownload(alpha, true));
    EXPECT_FALSE(manager().setDownloadFolder((root / "Elsewhere").string()));
    EXPECT_TRUE(manager().setDownloadFolder(downloads.string())) << "same folder";
    ASSERT_TRUE(tickUntil([&] { return manager().isDownloading(alpha); }));
    installerGate.open();
    ASSERT_TRUE(tickUntilSettled());
    EXPECT_FALSE(manager().isDownloading(alpha));

    ASSERT_TRUE(manager().setDownloadFolder((root / "Elsewhere").string()));
    EXPECT_EQ(manager().getProductInfo(alpha).installer.installerPath(),
              root / "Elsewhere" / "Setup.exe");
    EXPECT_EQ(statusOf(alpha), UpdateNeeded);
}
