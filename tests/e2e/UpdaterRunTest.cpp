// The real updater binary on a private Xvfb display against a real HTTP server on
// 127.0.0.1, with installers and a relaunched product that are small shell scripts
// recording how they were started.
#include "tests/e2e/UpdaterRunFixture.h"

#include "tests/support/WaitUntil.h"

#include <boost/filesystem/operations.hpp>
#include <gtest/gtest.h>

namespace fs = boost::filesystem;
using namespace Veltora::Testing;
using namespace std::chrono_literals;

TEST_F(UpdaterRun, CompletedUpdateRelaunchesTheProductWithExactlyTheArgumentsAfterDashDash)
{
    publishRelease(installerScript(0));
    const fs::path probe = relaunchProbe();
    std::vector<std::string> arguments = standardArguments();
    const std::vector<std::string> relaunch = {probe.string(), "two words", "--server", "",
                                               "\"quoted\""};
    arguments.push_back("--");
    arguments.insert(arguments.end(), relaunch.begin(), relaunch.end());

    auto updater = startUpdater(arguments);
    const auto status = updater->waitFor(runTimeout);

    ASSERT_EQ(status, 0) << updater->output();
    EXPECT_EQ(lines(readFile(relaunchRecord)), relaunch);
    const auto runs = installerRuns();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0], (std::vector<std::string>{(downloads / installerName).string(), "/SILENT"}));
    EXPECT_TRUE(downloadedFiles().empty()) << "installer and confirm file are discarded";
    const std::string output = updater->output();
    EXPECT_TRUE(contains(output, "#### Log engine initialization.")) << output;
    for (const std::string& line : shutdownLines)
        EXPECT_FALSE(contains(output, line)) << "the relaunch skips the engine's shutdown";
}

TEST_F(UpdaterRun, WindowDuringTheDownloadShowsTheFractionOfTheFilePresent)
{
    stallHalfway = true;
    publishRelease(installerScript(0));
    const std::size_t present = installerContent.size() / 2 / 8192 * 8192;
    const int expectedColumns =
        static_cast<int>(barArea.width * (static_cast<double>(present) / installerContent.size()));
    auto updater = startUpdater(standardArguments());

    const auto window = waitForWindowShowing([&](const ScreenImage& panel)
                                             { return filledBarColumns(panel) == expectedColumns; },
                                             *updater);

    ASSERT_TRUE(window) << updater->output();
    EXPECT_EQ(window->width, 300);
    EXPECT_EQ(window->height, 100);
    EXPECT_EQ(window->x, (XvfbDisplay::screenWidth - 300) / 2);
    EXPECT_EQ(window->y, (XvfbDisplay::screenHeight - 100) / 2);
    EXPECT_TRUE(installerRuns().empty());
}

TEST_F(UpdaterRun, CompletedUpdateWithoutRelaunchArgumentsEndsWithZeroAndTheShutdownLines)
{
    publishRelease(installerScript(0));

    auto updater = startUpdater(standardArguments());
    const auto status = updater->waitFor(runTimeout);

    ASSERT_EQ(status, 0) << updater->output();
    EXPECT_EQ(installerRuns().size(), 1u);
    EXPECT_FALSE(fs::exists(relaunchRecord));
    EXPECT_TRUE(downloadedFiles().empty());
    const std::string output = updater->output();
    for (const std::string& line : shutdownLines)
        EXPECT_TRUE(contains(output, line)) << line << "\n" << output;
    EXPECT_LT(output.find("LOG FLUSH DONE "), output.find("#### Log engine destruction."));
}

namespace
{
enum class StartProblem
{
    ServerUnreachable,
    OsNotSupported,
    UnknownProduct,
    MissingSku
};

void PrintTo(StartProblem problem, std::ostream* out)
{
    const char* const names[] = {"ServerUnreachable", "OsNotSupported", "UnknownProduct",
                                 "MissingSku"};
    *out << names[static_cast<int>(problem)];
}

class UpdaterStartFailure : public UpdaterRun, public ::testing::WithParamInterface<StartProblem>
{
protected:
    // Sets the problem up; returns the command line that meets it.
    std::vector<std::string> prepare(StartProblem problem)
    {
        switch (problem)
        {
        case StartProblem::ServerUnreachable:
            return {"--product-sku", sku, "--server",
                    "127.0.0.1:" + std::to_string(HttpTestServer::closedPort())};
        case StartProblem::OsNotSupported:
            publishRelease(installerScript(0), {{"platform_min_version", "\"9999\""}});
            return standardArguments();
        case StartProblem::UnknownProduct:
            server.serveJson(resourcesPath(), R"({"total":0,"resources":[]})");
            return standardArguments();
        case StartProblem::MissingSku:
            publishRelease(installerScript(0));
            return {"--server", server.hostAndPort()};
        }
        return {};
    }
};
} // namespace

TEST_P(UpdaterStartFailure, EndsWithStatusOneAndNoWindow)
{
    std::vector<std::string> arguments = prepare(GetParam());
    arguments.insert(arguments.end(), {"--", relaunchProbe().string()});

    auto updater = startUpdater(arguments, "update_manager=error");
    bool windowSeen = false;
    waitUntil(
        [&]
        {
            windowSeen = windowSeen || screen.visibleWindow("Auto Update").has_value();
            return !updater->running();
        },
        runTimeout);

    EXPECT_EQ(updater->waitFor(0ms), 1) << updater->output();
    EXPECT_FALSE(windowSeen);
    EXPECT_TRUE(installerRequests().empty());
    EXPECT_TRUE(downloadedFiles().empty());
    EXPECT_FALSE(fs::exists(relaunchRecord));
    EXPECT_EQ(contains(updater->output(), "Usage: updater --product-sku SKU"),
              GetParam() == StartProblem::MissingSku)
        << updater->output();
    EXPECT_EQ(contains(updater->output(), " Could not connect to resources server."),
              GetParam() == StartProblem::ServerUnreachable)
        << "enabled log lines are written before the process ends\n"
        << updater->output();
}

INSTANTIATE_TEST_SUITE_P(Problems, UpdaterStartFailure,
                         ::testing::Values(StartProblem::ServerUnreachable,
                                           StartProblem::OsNotSupported,
                                           StartProblem::UnknownProduct, StartProblem::MissingSku),
                         ::testing::PrintToStringParamName());

namespace
{
enum class DownloadProblem
{
    BadChecksum,
    MissingFile,
    ServerError
};

void PrintTo(DownloadProblem problem, std::ostream* out)
{
    const char* const names[] = {"BadChecksum", "MissingFile", "ServerError"};
    *out << names[static_cast<int>(problem)];
}

class UpdaterDownloadFailure : public UpdaterRun,
                               public ::testing::WithParamInterface<DownloadProblem>
{
protected:
    void prepare(DownloadProblem problem)
    {
        publishRelease(
            installerScript(0),
            problem == DownloadProblem::BadChecksum
                ? std::map<std::string, std::string>{{"checksum", "\"" + md5Of("other") + "\""}}
                : std::map<std::string, std::string>{});
        if (problem == DownloadProblem::MissingFile)
            server.reply(installerPath, HttpReply::withStatus(404, "not here"));
        if (problem == DownloadProblem::ServerError)
            server.reply(installerPath, HttpReply::withStatus(500, "broken"));
    }
};
} // namespace

TEST_P(UpdaterDownloadFailure, EndsWithStatusTwoWithoutInstallingOrRelaunching)
{
    prepare(GetParam());
    std::vector<std::string> arguments = standardArguments();
    arguments.insert(arguments.end(), {"--", relaunchProbe().string()});

    auto updater = startUpdater(arguments);
    const auto status = updater->waitFor(runTimeout);

    ASSERT_EQ(status, 2) << updater->output();
    EXPECT_FALSE(fs::exists(relaunchRecord));
    EXPECT_TRUE(installerRuns().empty());
    for (const std::string& name : downloadedFiles())
        EXPECT_EQ(name, installerName) << "no confirm file for a failed download";
    for (const std::string& line : shutdownLines)
        EXPECT_TRUE(contains(updater->output(), line)) << line;
}

INSTANTIATE_TEST_SUITE_P(Problems, UpdaterDownloadFailure,
                         ::testing::Values(DownloadProblem::BadChecksum,
                                           DownloadProblem::MissingFile,
                                           DownloadProblem::ServerError),
                         ::testing::PrintToStringParamName());

TEST_F(UpdaterRun, FailedInstallationKeepsTheWindowWithBothButtonsUntilQuitIsClicked)
{
    publishRelease(installerScript(3));
    std::vector<std::string> arguments = standardArguments();
    arguments.insert(arguments.end(), {"--", relaunchProbe().string(), "argument"});
    auto updater = startUpdater(arguments);

    const auto window = waitForWindowShowing(showsButtonsWithoutBar, *updater);
    ASSERT_TRUE(window) << updater->output();
    EXPECT_TRUE(updater->running()) << "a failed installation does not end the run";
    EXPECT_EQ(installerRuns().size(), 1u);

    ASSERT_TRUE(clickPanel(*window, quitArea));
    const auto status = updater->waitFor(runTimeout);

    ASSERT_EQ(status, 2) << updater->output();
    EXPECT_FALSE(fs::exists(relaunchRecord)) << "quitting never relaunches";
    EXPECT_EQ(installerRuns().size(), 1u);
    EXPECT_EQ(downloadedFiles(),
              (std::vector<std::string>{installerName, installerName + ".confirm"}));
}

TEST_F(UpdaterRun, LaunchInstallerAfterAFailureRunsItAgainWithoutSilentAndCompletes)
{
    publishRelease(installerScript(0, true));
    const fs::path probe = relaunchProbe();
    std::vector<std::string> arguments = standardArguments();
    arguments.insert(arguments.end(), {"--", probe.string(), "after retry"});
    auto updater = startUpdater(arguments);

    const auto window = waitForWindowShowing(showsButtonsWithoutBar, *updater);
    ASSERT_TRUE(window) << updater->output();
    ASSERT_TRUE(clickPanel(*window, launchInstallerArea));
    const auto status = updater->waitFor(runTimeout);

    ASSERT_EQ(status, 0) << updater->output();
    const std::string installer = (downloads / installerName).string();
    EXPECT_EQ(installerRuns(),
              (std::vector<std::vector<std::string>>{{installer, "/SILENT"}, {installer}}));
    EXPECT_EQ(lines(readFile(relaunchRecord)),
              (std::vector<std::string>{probe.string(), "after retry"}));
    EXPECT_TRUE(downloadedFiles().empty());
}

TEST_F(UpdaterRun, DownloadPausedFiveTimesIsResumedEachTimeAndInstalled)
{
    transfersToCut = 5;
    publishRelease(installerScript(0));
    const fs::path probe = relaunchProbe();
    std::vector<std::string> arguments = standardArguments();
    arguments.insert(arguments.end(), {"--", probe.string()});

    auto updater = startUpdater(arguments);
    const auto status = updater->waitFor(runTimeout);

    ASSERT_EQ(status, 0) << updater->output();
    EXPECT_EQ(lines(readFile(relaunchRecord)), (std::vector<std::string>{probe.string()}));
    EXPECT_EQ(installerRuns().size(), 1u);
    const auto requests = installerRequests();
    ASSERT_EQ(requests.size(), 6u);
    EXPECT_EQ(requests[0].header("Range"), std::nullopt);
    std::size_t present = installerContent.size() / 2 / 8192 * 8192;
    for (std::size_t index = 1; index < requests.size(); ++index)
    {
        EXPECT_EQ(requests[index].header("Range"), "bytes=" + std::to_string(present) + "-")
            << "resume " << index;
        present += (installerContent.size() - present) / 2 / 8192 * 8192;
    }
}

TEST_F(UpdaterRun, SixthPauseEndsTheRunWithoutInstalling)
{
    transfersToCut = 6;
    publishRelease(installerScript(0));
    std::vector<std::string> arguments = standardArguments();
    arguments.insert(arguments.end(), {"--", relaunchProbe().string()});

    auto updater = startUpdater(arguments);
    const auto status = updater->waitFor(runTimeout);

    ASSERT_EQ(status, 2) << updater->output();
    EXPECT_EQ(installerRequests().size(), 6u);
    EXPECT_TRUE(installerRuns().empty());
    EXPECT_FALSE(fs::exists(relaunchRecord));
    EXPECT_EQ(downloadedFiles(), (std::vector<std::string>{installerName}))
        << "the partial file stays for a later run";
}
