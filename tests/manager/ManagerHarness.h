#pragma once

// Drives an UpdateManager the way the updater window does: a loop that calls pollStates
// and processCompletedInstall every 50 ms (or the window's own UpdatePolicy, which does
// that and takes the window's decisions), listeners on all four event sources, a real
// resources server on loopback and the fake installer program as the downloaded file.

#include "UpdateManager/UpdateManager.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempFolder.h"
#include "updater/policy/UpdatePolicy.h"
#include "updater/policy/UpdateView.h"

#include <boost/filesystem/operations.hpp>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace Veltora::Testing
{

namespace fs = boost::filesystem;
using ::testing::ElementsAre;

// The product the fixture's releases describe unless a test names another.
inline const UpdateManager::ProductKey alpha{"ALPHA", "soft"};

// One release as the resources server describes it.
struct Release
{
    std::string sku = "ALPHA";
    std::string name = "Alpha";
    std::string version = "2.0.0.1";
    std::string permalink; // empty: the fixture's installer address
    std::string size;      // empty: the installer's size
    std::string checksum;  // empty: the installer's MD5
    std::string platformMinVersion;
    std::string platformMaxVersion;
    std::string sha256;    // empty: none in the answer
    std::string signature; // empty: none in the answer
};

using LogLine = LogEntry;

// What the listeners saw, in order: "changed SKU status-text", "progress SKU running",
// "progress SKU finished <progress>", "list", "finished SKU success|failure".
class EventJournal : public IEventListener<UpdateManager::ProductListChangedEvent>,
                     public IEventListener<UpdateManager::ProductChangedEvent>,
                     public IEventListener<UpdateManager::DownloadProgressEvent>,
                     public IEventListener<UpdateManager::InstallFinishedEvent>
{
public:
    explicit EventJournal(UpdateManager::UpdateManager& observed);
    ~EventJournal() override;
    EventJournal(const EventJournal&) = delete;
    EventJournal& operator=(const EventJournal&) = delete;

    void onEvent(const UpdateManager::ProductListChangedEvent& event) override;
    void onEvent(const UpdateManager::ProductChangedEvent& event) override;
    void onEvent(const UpdateManager::DownloadProgressEvent& event) override;
    void onEvent(const UpdateManager::InstallFinishedEvent& event) override;

    // Runs after the entry for a ProductChangedEvent is recorded, as the window's handler.
    std::function<void(const UpdateManager::ProductChangedEvent&)> reaction;

    std::vector<std::string> entries;
    std::vector<double> progressValues;

private:
    UpdateManager::UpdateManager& manager;
};

// What the update policy asked the window to do.
class RecordingView : public Updater::UpdateView
{
public:
    void showText(const std::string& text) override { texts.push_back(text); }
    void showProgress(double) override {}
    void showButtons() override { buttonsShown = true; }
    void quit() override { ++quitRequests; }
    void pauseAfterResume() override { ++resumes; }
    void printDiagnostic(const std::string& text) override { diagnostics.push_back(text); }

    std::vector<std::string> texts;
    bool buttonsShown = false;
    int quitRequests = 0;
    int resumes = 0;
    std::vector<std::string> diagnostics;
};

// Holds back a server reply until the test opens it (at the latest after 30 s).
class Gate
{
public:
    void open();
    void wait();

private:
    std::mutex mutex;
    std::condition_variable opened;
    bool isOpen = false;
};

class ManagerTest : public ::testing::Test
{
protected:
    ManagerTest();
    void TearDown() override;

    // Builds the manager with the platform layer's Downloads folder and platform word,
    // asking the fixture's server unless `serverText` names another.
    // With `signingKey` the manager installs only releases signed with its private half.
    void createManager(const std::string& scannerDefinition = {},
                       const std::string& serverText = {},
                       std::optional<UpdateManager::SigningPublicKey> signingKey = {});
    UpdateManager::UpdateManager& manager() { return *managerObject; }
    EventJournal& journal() { return *eventJournal; }

    // Serves `release` as the answer for its SKU (type "soft").
    void publish(const Release& release);
    std::string resourcesPath(const std::string& sku) const;

    // The fake installer as served content; its behaviour file goes beside the download.
    void serveInstaller(const std::string& path = "/files/Setup.exe");
    // The same, but each reply waits until `installerGate` is opened.
    void serveGatedInstaller();
    void configureInstaller(int exitCode, const boost::filesystem::path& gate = {});
    boost::filesystem::path installerFile() const { return downloads / "Setup.exe"; }
    boost::filesystem::path installerLog() const { return root / "installer.log"; }
    std::vector<std::string> installerLogLines() const;

    // From now on the window's own policy reacts to every status change and takes the
    // ticks: it resumes a paused download up to five times, launches the installer
    // silently once it is available, shows failures and quits. What it shows goes to
    // `view`.
    Updater::UpdatePolicy& reactLikeWindow(const UpdateManager::ProductKey& key);

    // One window tick every 50 ms until `done` holds; false when the deadline passed.
    bool tickUntil(const std::function<bool()>& done,
                   std::chrono::seconds limit = std::chrono::seconds(30));
    UpdateManager::UpdateStatus statusOf(const UpdateManager::ProductKey& key);

    // Ends the run: destroys the manager and the server, checks that no thread and no
    // file descriptor outlived them, and returns the log written meanwhile.
    std::vector<LogLine> finish();
    void destroyManager();

    static std::vector<std::string> messagesStartingWith(const std::vector<LogLine>& lines,
                                                         const std::string& prefix);
    static std::string readFile(const boost::filesystem::path& file);
    static void writeFile(const boost::filesystem::path& file, const std::string& content);
    static std::string md5Of(const std::string& content);

    TempFolder folder;
    boost::filesystem::path root;
    boost::filesystem::path downloads;
    std::string installerContent;
    Gate installerGate;
    std::unique_ptr<LogCapture> logCapture;
    std::unique_ptr<HttpTestServer> server;
    RecordingView view;

private:
    std::size_t baselineThreads = 0;
    std::size_t baselineDescriptors = 0;
    std::unique_ptr<UpdateManager::UpdateManager> managerObject;
    std::unique_ptr<EventJournal> eventJournal;
    std::unique_ptr<Updater::UpdatePolicy> policy;
    bool finished = false;
    std::string capturedLog;
};

// A resources API answer holding `releases` and claiming `total` of them.
std::string resourcesAnswer(const std::vector<Release>& releases, int total);

// Collapses runs of equal entries, so journals do not depend on how many ticks a status
// lasted.
std::vector<std::string> withoutRepeats(const std::vector<std::string>& entries);
std::vector<std::string> entriesStartingWith(const std::vector<std::string>& entries,
                                             const std::string& prefix);

} // namespace Veltora::Testing
