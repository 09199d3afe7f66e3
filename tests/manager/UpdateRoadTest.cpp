// One update from the server query to the finished installation, and the ways an
// installation can end otherwise, driven as the window drives the manager.

#include "platform/Platform.h"
#include "tests/manager/ManagerHarness.h"
#include "tests/support/PeFileBuilder.h"

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include <atomic>
#include <thread>

using namespace Veltora::UpdateManager;
using namespace Veltora::Testing;

namespace
{
bool contains(const std::vector<std::string>& entries, const std::string& prefix)
{
    return !entriesStartingWith(entries, prefix).empty();
}

class UpdateRoad : public ManagerTest
{
protected:
    // Adds the product as the window does and downloads its installer.
    void downloadInstaller()
    {
        manager().addProduct(alpha, "0.0");
        ASSERT_EQ(statusOf(alpha), UpdateNeeded);
        ASSERT_TRUE(manager().launchDownload(alpha, true));
        ASSERT_TRUE(tickUntil([&] { return statusOf(alpha) != DownloadInProgress; }));
    }
};
} // namespace

TEST_F(UpdateRoad, OneUpdateGoesFromServerQueryToFinishedInstall)
{
    // Where the scanner finds the installed product; the "installation" puts it there.
    const fs::path installedProgram = root / "Program" / "Alpha.exe";
    writeFile(root / "scanner.json", R"({"scanner": [{"name": "Alpha", "sku": "ALPHA",
        "rules": [{"file": ")" + installedProgram.generic_string() +
                                         R"("}]}]})");
    createManager((root / "scanner.json").string());
    publish(Release{});
    serveGatedInstaller();
    configureInstaller(0);
    // The manager's own road: the installer is launched once its file is ready, and the
    // files stay afterwards (the window's policy would discard them, see PolicyRoadTest).
    journal().reaction = [&](const ProductChangedEvent&)
    {
        if (statusOf(alpha) == InstallerAvailable)
            manager().launchInstaller(alpha, true);
        if (statusOf(alpha) == InstallInProgress && !fs::exists(installedProgram))
        {
            fs::create_directories(installedProgram.parent_path());
            PeFileBuilder::writeFile(installedProgram,
                                     PeFileBuilder().fileVersion({2, 0, 0, 1}).build());
        }
    };

    manager().addProduct(alpha, "0.0");
    EXPECT_EQ(statusOf(alpha), UpdateNeeded);
    EXPECT_EQ(manager().getProductInfo(alpha).installer.installerPath(), installerFile());
    ASSERT_TRUE(manager().launchDownload(alpha, true));
    EXPECT_EQ(statusOf(alpha), DownloadInProgress);
    ASSERT_TRUE(tickUntil([&] { return contains(journal().entries, "progress ALPHA running"); }));
    installerGate.open();
    ASSERT_TRUE(tickUntil([&] { return contains(journal().entries, "finished ALPHA"); }));

    EXPECT_EQ(statusOf(alpha), UpToDate);
    EXPECT_EQ(readFile(installerFile()), installerContent);
    boost::property_tree::ptree confirm;
    boost::property_tree::read_json(installerFile().string() + ".confirm", confirm);
    EXPECT_EQ(confirm.get<std::string>("size"), std::to_string(installerContent.size()));
    EXPECT_EQ(confirm.get<std::string>("checksum"), md5Of(installerContent));
    EXPECT_THAT(installerLogLines(),
                ElementsAre("start Setup.exe", "arg " + installerFile().string(), "arg /SILENT",
                            "end Setup.exe"));
    EXPECT_EQ(server->lastRequest().path(), std::string("/api/resources/soft/ALPHA/") +
                                                Veltora::Platform::platformWord() + "/latest");
    const std::vector<std::string> events = journal().entries;

    const std::vector<LogLine> log = finish();
    EXPECT_THAT(withoutRepeats(events),
                ElementsAre("changed ALPHA update needed", "list", "progress ALPHA running",
                            "progress ALPHA finished 100", "changed ALPHA installer available",
                            "changed ALPHA install in progress", "changed ALPHA install complete",
                            "list", "finished ALPHA success"));
    EXPECT_THAT(messagesStartingWith(log, "State for product"),
                ElementsAre("State for product ALPHA (soft) switch from download in progress to "
                            "installer available",
                            "State for product ALPHA (soft) switch from installer start to install "
                            "in progress"));
    EXPECT_THAT(messagesStartingWith(log, "Installation of "),
                ElementsAre("Installation of Alpha" + installerFile().string() +
                            " complete with status install complete"));
    EXPECT_THAT(messagesStartingWith(log, "Install of product"),
                ElementsAre("Install of product 'soft/ALPHA' succeeded"));
}

TEST_F(UpdateRoad, InstallerExitingWithOneEndsInErrorAndAFailedInstall)
{
    createManager();
    publish(Release{});
    serveInstaller();
    configureInstaller(1);
    reactLikeWindow(alpha);
    downloadInstaller();
    ASSERT_TRUE(tickUntil([&] { return contains(journal().entries, "finished ALPHA"); }));

    EXPECT_THAT(installerLogLines(), ::testing::Contains("end Setup.exe"));
    EXPECT_TRUE(contains(journal().entries, "changed ALPHA error"));
    EXPECT_EQ(entriesStartingWith(journal().entries, "finished"),
              std::vector<std::string>{"finished ALPHA failure"});
    // The files stay for another attempt: the status rule finds the installer again.
    EXPECT_EQ(statusOf(alpha), InstallerAvailable);
    EXPECT_TRUE(fs::exists(installerFile()));

    const std::vector<LogLine> log = finish();
    EXPECT_THAT(messagesStartingWith(log, "Installation of "),
                ElementsAre("Installation of Alpha" + installerFile().string() +
                            " complete with status error"));
    EXPECT_THAT(messagesStartingWith(log, "Install of product"),
                ElementsAre("Install of product 'soft/ALPHA' failed or was cancelled"));
}

TEST_F(UpdateRoad, InstallerDeletedBeforeItRunsNeedsTheUpdateAgain)
{
    createManager();
    publish(Release{});
    serveInstaller();
    configureInstaller(0);
    journal().reaction = [&](const ProductChangedEvent&)
    {
        if (statusOf(alpha) == InstallerAvailable && fs::exists(installerFile()))
        {
            fs::remove(installerFile());
            manager().launchInstaller(alpha, true);
        }
    };
    downloadInstaller();
    ASSERT_TRUE(tickUntil([&] { return contains(journal().entries, "finished ALPHA"); }));

    EXPECT_FALSE(fs::exists(installerLog())) << "the installer must not have run";
    EXPECT_TRUE(contains(journal().entries, "changed ALPHA update needed"));
    EXPECT_EQ(entriesStartingWith(journal().entries, "finished"),
              std::vector<std::string>{"finished ALPHA failure"});
    EXPECT_EQ(statusOf(alpha), UpdateNeeded);

    const std::vector<LogLine> log = finish();
    EXPECT_THAT(messagesStartingWith(log, "Installation of "),
                ElementsAre("Installation of Alpha" + installerFile().string() +
                            " complete with status update needed"));
}

TEST_F(UpdateRoad, InstallCompleteIsAnnouncedOnEveryTickUntilPickedUp)
{
    createManager();
    publish(Release{});
    serveInstaller();
    configureInstaller(0);
    manager().addProduct(alpha, "0.0");
    ASSERT_TRUE(manager().launchDownload(alpha, true));
    ASSERT_TRUE(tickUntil([&] { return statusOf(alpha) == InstallerAvailable; }));
    ASSERT_TRUE(manager().launchInstaller(alpha, true));
    EXPECT_FALSE(manager().launchInstaller(alpha, true)) << "already launched";
    EXPECT_EQ(statusOf(alpha), InstallerStart);

    // Only the state tick runs, so the finished installation stays on the install thread.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (statusOf(alpha) != InstallComplete && std::chrono::steady_clock::now() < deadline)
    {
        manager().pollStates();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_EQ(statusOf(alpha), InstallComplete);
    journal().entries.clear();
    for (int tick = 0; tick < 3; ++tick)
        manager().pollStates();
    EXPECT_THAT(journal().entries,
                ElementsAre("changed ALPHA install complete", "changed ALPHA install complete",
                            "changed ALPHA install complete"));

    manager().processCompletedInstall();
    // The scanner knows no product, so the refresh finds the update still needed.
    EXPECT_EQ(entriesStartingWith(journal().entries, "finished"),
              std::vector<std::string>{"finished ALPHA failure"});
    EXPECT_EQ(statusOf(alpha), InstallerAvailable);
}

// The install thread hands back the very installer it ran, so the finished installation
// is matched to its own product even when another product's installer has the same path.
TEST_F(UpdateRoad, FinishedInstallIsMatchedToItsOwnProduct)
{
    const ProductKey beta{"BETA", "soft"};
    createManager();
    publish(Release{});
    Release betaRelease;
    betaRelease.sku = "BETA";
    betaRelease.name = "Beta";
    betaRelease.permalink = server->url("/other/Setup.exe");
    publish(betaRelease);
    serveInstaller();
    configureInstaller(0);
    manager().addProduct(alpha, "0.0");
    manager().addProduct(beta, "0.0");
    ASSERT_EQ(manager().getProductInfo(beta).installer.installerPath(), installerFile());
    ASSERT_TRUE(manager().launchDownload(alpha, true));
    ASSERT_TRUE(tickUntil([&] { return statusOf(alpha) == InstallerAvailable; }));
    manager().refreshProduct(beta);
    ASSERT_EQ(statusOf(beta), InstallerAvailable);

    ASSERT_TRUE(manager().launchInstaller(beta, true));
    ASSERT_TRUE(tickUntil([&] { return contains(journal().entries, "finished"); }));
    EXPECT_EQ(entriesStartingWith(journal().entries, "finished"),
              std::vector<std::string>{"finished BETA failure"});
    EXPECT_EQ(statusOf(alpha), InstallerAvailable);
    EXPECT_EQ(statusOf(beta), InstallerAvailable);
}

TEST_F(UpdateRoad, DestroyingTheManagerMidInstallWaitsForTheInstaller)
{
    createManager();
    publish(Release{});
    serveInstaller();
    const fs::path gate = root / "installer-may-end";
    configureInstaller(0, gate);
    reactLikeWindow(alpha);
    downloadInstaller();
    ASSERT_TRUE(tickUntil([&] { return !installerLogLines().empty(); }));

    std::atomic<bool> destroying{false};
    std::thread releaser(
        [&]
        {
            while (!destroying)
                std::this_thread::yield();
            writeFile(gate, "");
        });
    destroying = true;
    destroyManager();
    releaser.join();
    EXPECT_THAT(installerLogLines(), ::testing::Contains("end Setup.exe"))
        << "the manager returned before its installer had ended";
}

TEST_F(UpdateRoad, DestroyingTheManagerMidDownloadKeepsThePartialFile)
{
    createManager();
    HttpReply stalled = HttpReply::withStatus(200, installerContent);
    stalled.ending = ReplyEnding::StallAfterBytes;
    stalled.bytesBeforeEnding = 2 * 8192;
    server->reply("/files/Setup.exe", stalled);
    publish(Release{});
    manager().addProduct(alpha, "0.0");
    ASSERT_TRUE(manager().launchDownload(alpha, true));
    // The file is written through a buffer, so the worker's progress tells how far it got.
    const double stalledAt = 2.0 * 8192 / static_cast<double>(installerContent.size());
    ASSERT_TRUE(tickUntil(
        [&]
        {
            const auto& values = journal().progressValues;
            return !values.empty() && values.back() >= stalledAt - 1e-9;
        }));

    // The worker is blocked reading from a silent server; stopping the server is what a
    // read time-out would do, a little sooner.
    std::atomic<bool> destroying{false};
    std::thread releaser(
        [&]
        {
            while (!destroying)
                std::this_thread::yield();
            server->stop();
        });
    destroying = true;
    destroyManager();
    releaser.join();
    ASSERT_TRUE(fs::exists(installerFile()));
    EXPECT_EQ(fs::file_size(installerFile()), 2u * 8192);
    EXPECT_FALSE(fs::exists(installerFile().string() + ".confirm"));
}
