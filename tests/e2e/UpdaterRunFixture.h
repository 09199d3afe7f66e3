#pragma once

// The real updater binary on a private Xvfb display against a real HTTP server on
// 127.0.0.1: the fixture publishes a release, starts the updater with a private home,
// Downloads and working folder, and looks at the window, the files and the children.

#include "tests/e2e/Screen.h"
#include "tests/e2e/XvfbDisplay.h"
#include "tests/support/ChildProcess.h"

#include "tests/support/FileContent.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/TempFolder.h"

#include <boost/filesystem/path.hpp>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Veltora::Testing
{

inline const std::string sku = "E2E";
inline const std::string installerName = "E2E-2.0-setup";
inline const std::string installerPath = "/files/" + installerName;
constexpr std::chrono::seconds runTimeout{60};

// Colours of the window as the look-and-feel draws it.
constexpr std::uint32_t windowBackground = 0xD3D3D3;
constexpr std::uint32_t barBackground = 0xEEEEEE;
constexpr std::uint32_t barForeground = 0xADD8E6;

// Panel coordinates (the window is 300 by 100 and has no decoration under bare Xvfb).
inline const WindowGeometry barArea{10, 45, 280, 30};
inline const WindowGeometry launchInstallerArea{20, 51, 110, 24};
inline const WindowGeometry quitArea{170, 51, 110, 24};

// The lines the log engine prints when it is destroyed at the end of a run.
inline const std::vector<std::string> shutdownLines = {
    "LOG - STOP THREAD asked ", "LOG FLUSH DONE ", "#### Log engine destruction."};

void writeExecutable(const boost::filesystem::path& file, const std::string& content);
std::string md5Of(const std::string& content);
std::vector<std::string> lines(const std::string& text);
bool contains(const std::string& text, const std::string& piece);

// The painted panel with both buttons and no bar.
bool showsButtonsWithoutBar(const ScreenImage& panel);
// Columns of the bar filled with its foreground colour from the left, or -1 when the bar
// area does not hold a bar.
int filledBarColumns(const ScreenImage& panel);

class UpdaterRun : public ::testing::Test
{
protected:
    UpdaterRun();

    // A fake installer: records "path|arg|arg..." as one line per run, then exits with
    // `exitCode`; with `failFirstRun` the first run exits 1 instead. Padded so that
    // downloads are cut into several chunks.
    std::string installerScript(int exitCode, bool failFirstRun = false) const;

    // Publishes a release of the product whose installer is `installer`; `extra` adds
    // or replaces members of the resource object (raw JSON values).
    void publishRelease(const std::string& installer,
                        const std::map<std::string, std::string>& extra = {});
    std::string resourcesPath() const;

    // The installer with Range honoured; the first `transfersToCut` transfers end with
    // the connection closed after half their body, on a multiple of the updater's
    // 8192-byte chunks, which the updater sees as a paused download.
    HttpReply installerReply(const RecordedRequest& request);
    std::vector<RecordedRequest> installerRequests() const;

    // The relaunched product: writes its argument vector, argument 0 included, one per
    // line.
    boost::filesystem::path relaunchProbe();

    // The options the updater runs with: the private display, home, Downloads folder and
    // working folder, and `logLevels` as UPDATER_LOG.
    ChildProcess::Options updaterOptions(const std::string& logLevels = "") const;
    std::unique_ptr<ChildProcess> startUpdater(const std::vector<std::string>& arguments,
                                               const std::string& logLevels = "");
    // Starts the updater through `launcher` (a program and its arguments that end by
    // running the updater with the arguments after them), when it is not empty.
    std::unique_ptr<ChildProcess> startUpdater(const std::vector<std::string>& arguments,
                                               const ChildProcess::Options& options,
                                               const std::vector<std::string>& launcher = {});
    std::vector<std::string> standardArguments() const;

    // Installer runs so far, each as its argument vector (argument 0 included).
    std::vector<std::vector<std::string>> installerRuns() const;
    std::vector<std::string> downloadedFiles() const;

    std::optional<WindowGeometry> updaterWindow() const;
    // Waits until the window shows what `shown` looks for; returns its position. Gives up
    // when the updater ends first.
    std::optional<WindowGeometry>
    waitForWindowShowing(const std::function<bool(const ScreenImage&)>& shown,
                         ChildProcess& updater);
    // Clicks the middle of `area` of the panel of the window at `window`.
    bool clickPanel(const WindowGeometry& window, const WindowGeometry& area) const;

    // The updater binary the run starts: the default build's, unless a test picks another.
    std::string updaterProgram = UPDATER_BINARY;
    TempFolder root;
    boost::filesystem::path downloads = root / "Downloads";
    boost::filesystem::path home = root / "home";
    boost::filesystem::path work = root / "work";
    boost::filesystem::path installerRecord = root / "installer-runs.txt";
    boost::filesystem::path relaunchRecord = root / "relaunched.txt";
    XvfbDisplay display;
    Screen screen;
    std::string installerContent;
    std::atomic<int> transfersToCut{0};
    // The transfer (after the cut ones) stops sending halfway and keeps the connection.
    std::atomic<bool> stallHalfway{false};
    // Last, so that it stops before what its handlers use goes away.
    HttpTestServer server;
};

} // namespace Veltora::Testing
