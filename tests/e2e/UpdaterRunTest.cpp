// The real updater binary on a private Xvfb display against a real HTTP server on
// 127.0.0.1, with installers and a relaunched product that are small shell scripts
// recording how they were started.
#include "tests/e2e/ChildProcess.h"
#include "tests/e2e/Screen.h"
#include "tests/e2e/XvfbDisplay.h"

#include "platform/Platform.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/TempFolder.h"

#include <Poco/DigestEngine.h>
#include <Poco/MD5Engine.h>
#include <boost/algorithm/string/split.hpp>
#include <boost/filesystem/fstream.hpp>
#include <boost/filesystem/operations.hpp>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <sstream>
#include <thread>

namespace fs = boost::filesystem;
using namespace Veltora::Testing;
using namespace std::chrono_literals;

namespace
{
const std::string sku = "E2E";
const std::string installerName = "E2E-2.0-setup.sh";
const std::string installerPath = "/files/" + installerName;
constexpr auto runTimeout = 60s;

// Colours of the window as the look-and-feel draws it.
constexpr std::uint32_t windowBackground = 0xD3D3D3;
constexpr std::uint32_t barBackground = 0xEEEEEE;
constexpr std::uint32_t barForeground = 0xADD8E6;

// Panel coordinates (the window is 300 by 100 and has no decoration under bare Xvfb).
const WindowGeometry barArea{10, 45, 280, 30};
const WindowGeometry launchInstallerArea{20, 51, 110, 24};
const WindowGeometry quitArea{170, 51, 110, 24};

std::string readFile(const fs::path& file)
{
    fs::ifstream input(file, std::ios::binary);
    std::ostringstream text;
    text << input.rdbuf();
    return text.str();
}

void writeExecutable(const fs::path& file, const std::string& content)
{
    fs::create_directories(file.parent_path());
    {
        fs::ofstream out(file, std::ios::binary | std::ios::trunc);
        out << content;
    }
    fs::permissions(file, fs::perms::owner_all);
}

std::string md5Of(const std::string& content)
{
    Poco::MD5Engine engine;
    engine.update(content.data(), content.size());
    return Poco::DigestEngine::digestToHex(engine.digest());
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> result;
    std::istringstream input(text);
    std::string line;
    while (std::getline(input, line))
        result.push_back(line);
    return result;
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition())
    {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

int countPixels(const ScreenImage& image, const WindowGeometry& area,
                const std::function<bool(std::uint32_t)>& matches)
{
    int count = 0;
    for (int y = area.y; y < area.y + area.height; ++y)
        for (int x = area.x; x < area.x + area.width; ++x)
            count += matches(image.pixel(x, y)) ? 1 : 0;
    return count;
}

bool inside(const WindowGeometry& area, int x, int y)
{
    return x >= area.x && x < area.x + area.width && y >= area.y && y < area.y + area.height;
}

// The painted panel with both buttons and no bar: where the bar would be, every pixel
// outside the buttons is the window's background (which also rules out a window that is
// not painted yet), and the buttons cover most of their own areas.
bool showsButtonsWithoutBar(const ScreenImage& panel)
{
    for (int y = barArea.y; y < barArea.y + barArea.height; ++y)
        for (int x = barArea.x; x < barArea.x + barArea.width; ++x)
            if (!inside(launchInstallerArea, x, y) && !inside(quitArea, x, y) &&
                panel.pixel(x, y) != windowBackground)
                return false;
    auto notBackground = [](std::uint32_t colour) { return colour != windowBackground; };
    const int buttonPixels = launchInstallerArea.width * launchInstallerArea.height;
    return countPixels(panel, launchInstallerArea, notBackground) > buttonPixels / 2 &&
           countPixels(panel, quitArea, notBackground) > buttonPixels / 2;
}

// Columns of the bar filled with its foreground colour from the left, or -1 when the bar
// area does not hold a bar.
int filledBarColumns(const ScreenImage& panel)
{
    int filled = 0;
    for (int x = barArea.x; x < barArea.x + barArea.width; ++x)
    {
        const std::uint32_t colour = panel.pixel(x, barArea.y + 2);
        if (colour != barForeground && colour != barBackground)
            return -1;
        if (colour == barForeground && filled == x - barArea.x)
            ++filled;
    }
    return filled;
}

class UpdaterRun : public ::testing::Test
{
protected:
    UpdaterRun() : screen(display.name(), root / "screen")
    {
        fs::create_directories(downloads);
        fs::create_directories(home);
        fs::create_directories(work);
    }

    // A fake installer: records "path|arg|arg..." as one line per run, then exits with
    // `exitCode`; with `failFirstRun` the first run exits 1 instead. Padded so that
    // downloads are cut into several chunks.
    std::string installerScript(int exitCode, bool failFirstRun = false) const
    {
        std::string script = "#!/bin/sh\n"
                             "{ printf '%s' \"$0\"; for a in \"$@\"; do printf '|%s' \"$a\"; "
                             "done; printf '\\n'; } >> '" +
                             installerRecord.string() + "'\n";
        if (failFirstRun)
            script += "[ -e '" + (root / "failed-once").string() + "' ] || { : > '" +
                      (root / "failed-once").string() + "'; exit 1; }\n";
        script += "exit " + std::to_string(exitCode) + "\n";
        while (script.size() < 256 * 1024)
            script += "# padding that the shell never reads, as it has exited above\n";
        return script;
    }

    // Publishes a release of the product whose installer is `installer`; `extra` adds
    // or replaces members of the resource object (raw JSON values).
    void publishRelease(const std::string& installer,
                        const std::map<std::string, std::string>& extra = {})
    {
        installerContent = installer;
        std::map<std::string, std::string> members = {
            {"product_sku", "\"" + sku + "\""},
            {"name", "\"End-to-end Product\""},
            {"version", "\"2.0\""},
            {"permalink", "\"" + server.url(installerPath) + "\""},
            {"resources_site_link", "\"http://example.invalid/e2e\""},
            {"size", std::to_string(installer.size())},
            {"checksum", "\"" + md5Of(installer) + "\""}};
        for (const auto& [name, value] : extra)
            members[name] = value;
        std::string resource;
        for (const auto& [name, value] : members)
            resource += (resource.empty() ? "" : ",") + ("\"" + name + "\":" + value);
        server.serveJson(resourcesPath(), "{\"total\":1,\"resources\":[{" + resource + "}]}");
        server.on(installerPath,
                  [this](const RecordedRequest& request) { return installerReply(request); });
    }

    std::string resourcesPath() const
    {
        return "/api/resources/soft/" + sku + "/" + Veltora::Platform::platformWord() + "/latest";
    }

    // The installer with Range honoured; the first `transfersToCut` transfers end with
    // the connection closed after half their body, on a multiple of the updater's
    // 8192-byte chunks, which the updater sees as a paused download.
    HttpReply installerReply(const RecordedRequest& request)
    {
        HttpReply reply =
            HttpTestServer::contentReply(installerContent, request, RangeMode::Honour);
        if (transfersToCut.fetch_sub(1) > 0)
        {
            reply.ending = ReplyEnding::CloseAfterBytes;
            reply.bytesBeforeEnding = reply.body.size() / 2 / 8192 * 8192;
        }
        else if (stallHalfway)
        {
            reply.ending = ReplyEnding::StallAfterBytes;
            reply.bytesBeforeEnding = reply.body.size() / 2 / 8192 * 8192;
        }
        return reply;
    }

    std::vector<RecordedRequest> installerRequests() const
    {
        std::vector<RecordedRequest> found;
        for (const RecordedRequest& request : server.requests())
            if (request.path() == installerPath)
                found.push_back(request);
        return found;
    }

    // The relaunched product: writes its argument vector, argument 0 included, one per
    // line.
    fs::path relaunchProbe()
    {
        const fs::path probe = root / "product dir" / "probe.sh";
        writeExecutable(probe, "#!/bin/sh\nfor a in \"$0\" \"$@\"; do printf '%s\\n' \"$a\"; "
                               "done > '" +
                                   relaunchRecord.string() + "'\n");
        return probe;
    }

    std::unique_ptr<ChildProcess> startUpdater(const std::vector<std::string>& arguments,
                                               const std::string& logLevels = "")
    {
        ChildProcess::Options options;
        options.environment = {{"DISPLAY", display.name()},
                               {"HOME", home.string()},
                               {"XDG_CONFIG_HOME", (home / ".config").string()},
                               {"XDG_DOWNLOAD_DIR", downloads.string()},
                               {"UPDATER_LOG", logLevels}};
        options.workingFolder = work;
        options.outputFile = root / "updater.out";
        return std::make_unique<ChildProcess>(UPDATER_BINARY, arguments, options);
    }

    std::vector<std::string> standardArguments() const
    {
        return {"--product-sku", sku, "--server", server.hostAndPort()};
    }

    // Installer runs so far, each as its argument vector (argument 0 included).
    std::vector<std::vector<std::string>> installerRuns() const
    {
        std::vector<std::vector<std::string>> runs;
        for (const std::string& line : lines(readFile(installerRecord)))
        {
            std::vector<std::string> arguments;
            boost::algorithm::split(arguments, line, [](char c) { return c == '|'; });
            runs.push_back(arguments);
        }
        return runs;
    }

    std::vector<std::string> downloadedFiles() const
    {
        std::vector<std::string> names;
        for (const fs::directory_entry& entry : fs::directory_iterator(downloads))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::optional<WindowGeometry> updaterWindow() const
    {
        const auto window = screen.visibleWindow("Auto Update");
        return window ? screen.geometry(*window) : std::nullopt;
    }

    // Waits until the window shows what `shown` looks for; returns its position.
    std::optional<WindowGeometry>
    waitForWindowShowing(const std::function<bool(const ScreenImage&)>& shown,
                         ChildProcess& updater)
    {
        std::optional<WindowGeometry> found;
        waitUntil(
            [&]
            {
                if (!updater.running())
                    return true;
                const auto window = updaterWindow();
                const auto image = window ? screen.capture(*window) : std::nullopt;
                if (image && image->width == 300 && image->height == 100 && shown(*image))
                    found = window;
                return found.has_value();
            },
            runTimeout);
        return found;
    }

    TempFolder root;
    fs::path downloads = root / "Downloads";
    fs::path home = root / "home";
    fs::path work = root / "work";
    fs::path installerRecord = root / "installer-runs.txt";
    fs::path relaunchRecord = root / "relaunched.txt";
    XvfbDisplay display;
    Screen screen;
    HttpTestServer server;
    std::string installerContent;
    std::atomic<int> transfersToCut{0};
    // The transfer (after the cut ones) stops sending halfway and keeps the connection.
    std::atomic<bool> stallHalfway{false};
};

const std::vector<std::string> shutdownLines = {"LOG - STOP THREAD asked ", "LOG FLUSH DONE ",
                                                "#### Log engine destruction."};

bool contains(const std::string& text, const std::string& piece)
{
    return text.find(piece) != std::string::npos;
}
} // namespace

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
    const std::vector<std::string> expected = {probe.string(), "two words", "--server", "",
                                               "quoted"};
    EXPECT_EQ(lines(readFile(relaunchRecord)), expected);
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

std::string startProblemName(const ::testing::TestParamInfo<StartProblem>& testCase)
{
    const char* const names[] = {"ServerUnreachable", "OsNotSupported", "UnknownProduct",
                                 "MissingSku"};
    return names[static_cast<int>(testCase.param)];
}

INSTANTIATE_TEST_SUITE_P(Problems, UpdaterStartFailure,
                         ::testing::Values(StartProblem::ServerUnreachable,
                                           StartProblem::OsNotSupported,
                                           StartProblem::UnknownProduct, StartProblem::MissingSku),
                         startProblemName);

namespace
{
enum class DownloadProblem
{
    BadChecksum,
    MissingFile,
    ServerError
};

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

TEST_P(UpdaterDownloadFailure, EndsWithStatusZeroWithoutInstallingOrRelaunching)
{
    prepare(GetParam());
    std::vector<std::string> arguments = standardArguments();
    arguments.insert(arguments.end(), {"--", relaunchProbe().string()});

    auto updater = startUpdater(arguments);
    const auto status = updater->waitFor(runTimeout);

    ASSERT_EQ(status, 0) << updater->output();
    EXPECT_FALSE(fs::exists(relaunchRecord));
    EXPECT_TRUE(installerRuns().empty());
    for (const std::string& name : downloadedFiles())
        EXPECT_EQ(name, installerName) << "no confirm file for a failed download";
    for (const std::string& line : shutdownLines)
        EXPECT_TRUE(contains(updater->output(), line)) << line;
}

std::string downloadProblemName(const ::testing::TestParamInfo<DownloadProblem>& testCase)
{
    const char* const names[] = {"BadChecksum", "MissingFile", "ServerError"};
    return names[static_cast<int>(testCase.param)];
}

INSTANTIATE_TEST_SUITE_P(Problems, UpdaterDownloadFailure,
                         ::testing::Values(DownloadProblem::BadChecksum,
                                           DownloadProblem::MissingFile,
                                           DownloadProblem::ServerError),
                         downloadProblemName);

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

    ASSERT_TRUE(screen.click(window->x + quitArea.x + quitArea.width / 2,
                             window->y + quitArea.y + quitArea.height / 2));
    const auto status = updater->waitFor(runTimeout);

    ASSERT_EQ(status, 0) << updater->output();
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
    ASSERT_TRUE(screen.click(window->x + launchInstallerArea.x + launchInstallerArea.width / 2,
                             window->y + launchInstallerArea.y + launchInstallerArea.height / 2));
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

    ASSERT_EQ(status, 0) << updater->output();
    EXPECT_EQ(installerRequests().size(), 6u);
    EXPECT_TRUE(installerRuns().empty());
    EXPECT_FALSE(fs::exists(relaunchRecord));
    EXPECT_EQ(downloadedFiles(), (std::vector<std::string>{installerName}))
        << "the partial file stays for a later run";
}
