#include "tests/manager/ManagerHarness.h"

#include "UpdateManager/web/ResourceList.h"
#include "platform/Platform.h"
#include "tests/support/DownloadsFolder.h"
#include "tests/support/ProcessResources.h"

#include <Poco/DigestStream.h>
#include <Poco/MD5Engine.h>
#include <boost/filesystem/operations.hpp>
#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>

namespace fs = boost::filesystem;
using namespace Veltora::UpdateManager;

namespace Veltora::Testing
{

namespace
{
// A user folder whose name ("Zoë 日本") no single-byte ANSI code page holds, as many users
// have: every run downloads, confirms and installs below it.
const char* const userFolderName = "Zo\u00EB \u65E5\u672C";
} // namespace

void Gate::open()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        isOpen = true;
    }
    opened.notify_all();
}

void Gate::wait()
{
    std::unique_lock<std::mutex> lock(mutex);
    opened.wait_for(lock, std::chrono::seconds(30), [this] { return isOpen; });
}

EventJournal::EventJournal(UpdateManager::UpdateManager& observed) : manager(observed)
{
    manager.subscribe(static_cast<IEventListener<ProductListChangedEvent>*>(this));
    manager.subscribe(static_cast<IEventListener<ProductChangedEvent>*>(this));
    manager.subscribe(static_cast<IEventListener<DownloadProgressEvent>*>(this));
    manager.subscribe(static_cast<IEventListener<InstallFinishedEvent>*>(this));
}

EventJournal::~EventJournal()
{
    manager.unsubscribe(static_cast<IEventListener<ProductListChangedEvent>*>(this));
    manager.unsubscribe(static_cast<IEventListener<ProductChangedEvent>*>(this));
    manager.unsubscribe(static_cast<IEventListener<DownloadProgressEvent>*>(this));
    manager.unsubscribe(static_cast<IEventListener<InstallFinishedEvent>*>(this));
}

void EventJournal::onEvent(const ProductListChangedEvent&)
{
    entries.push_back("list");
}

void EventJournal::onEvent(const ProductChangedEvent& event)
{
    const UpdateStatus status = manager.getProductInfo(event.sku, event.type).installer.getStatus();
    entries.push_back("changed " + event.sku + " " + statusToString(status));
    if (reaction)
        reaction(event);
}

void EventJournal::onEvent(const DownloadProgressEvent& event)
{
    progressValues.push_back(event.progress);
    if (event.finished)
    {
        std::ostringstream text;
        text << "progress " << event.sku << " finished " << event.progress;
        entries.push_back(text.str());
    }
    else
    {
        entries.push_back("progress " + event.sku + " running");
    }
}

void EventJournal::onEvent(const InstallFinishedEvent& event)
{
    entries.push_back("finished " + event.sku + (event.success ? " success" : " failure"));
}

ManagerTest::ManagerTest()
    : root(folder.path()), downloads(folder.path() / userFolderName / "Downloads"),
      logCapture(std::make_unique<LogCapture>(
          std::initializer_list<const char*>{"update_manager", "download", "install", "web"}))
{
    fs::create_directories(downloads);
    useDownloadsFolderForProcess(downloads);
    baselineThreads = threadsOfThisProcess();
    baselineDescriptors = openHandlesOfThisProcess();
    server = std::make_unique<HttpTestServer>();
    installerContent = readFile(FAKE_INSTALLER_PROGRAM);
}

void ManagerTest::TearDown()
{
    installerGate.open();
    // A skipped test ran no manager whose threads and files could be left over.
    if (!finished && !IsSkipped())
        finish();
    if (HasFailure())
        std::cerr << "---- log of the failed test\n" << capturedLog << "----\n";
}

void ManagerTest::createManager(const std::string& scannerDefinition, const std::string& serverText,
                                std::optional<UpdateManager::SigningPublicKey> signingKey)
{
    managerObject = std::make_unique<UpdateManager::UpdateManager>(
        scannerDefinition, serverText.empty() ? server->hostAndPort() : serverText,
        Platform::platformWord(), std::move(signingKey));
    eventJournal = std::make_unique<EventJournal>(*managerObject);
}

std::string ManagerTest::resourcesPath(const std::string& sku) const
{
    return makeResourcesPath(sku, "soft", Platform::platformWord(), "latest");
}

std::string resourcesAnswer(const std::vector<Release>& releases, int total)
{
    namespace pt = boost::property_tree;
    pt::ptree resources;
    for (const Release& release : releases)
    {
        pt::ptree resource;
        resource.put("product_sku", release.sku);
        resource.put("name", release.name);
        resource.put("permalink", release.permalink);
        resource.put("version", release.version);
        resource.put("resources_site_link", "http://example.invalid/" + release.sku);
        resource.put("size", release.size);
        resource.put("checksum", release.checksum);
        if (!release.platformMinVersion.empty())
            resource.put("platform_min_version", release.platformMinVersion);
        if (!release.platformMaxVersion.empty())
            resource.put("platform_max_version", release.platformMaxVersion);
        if (!release.sha256.empty())
            resource.put("sha256", release.sha256);
        if (!release.signature.empty())
            resource.put("signature", release.signature);
        resources.push_back({"", resource});
    }
    pt::ptree answer;
    answer.put("total", total);
    answer.add_child("resources", resources);
    std::ostringstream text;
    pt::write_json(text, answer);
    return text.str();
}

void ManagerTest::publish(const Release& release)
{
    Release completed = release;
    if (completed.permalink.empty())
        completed.permalink = server->url("/files/Setup.exe");
    if (completed.size.empty())
        completed.size = std::to_string(installerContent.size());
    if (completed.checksum.empty())
        completed.checksum = md5Of(installerContent);
    server->serveJson(resourcesPath(release.sku), resourcesAnswer({completed}, 1));
}

void ManagerTest::serveInstaller(const std::string& path)
{
    server->serveContent(path, installerContent);
}

void ManagerTest::serveGatedInstaller()
{
    server->on("/files/Setup.exe",
               [this](const RecordedRequest& request)
               {
                   installerGate.wait();
                   return HttpTestServer::contentReply(installerContent, request,
                                                       RangeMode::Honour);
               });
}

void ManagerTest::configureInstaller(int exitCode, const fs::path& gate)
{
    std::string behaviour =
        "exit " + std::to_string(exitCode) + "\nlog " + installerLog().string() + "\n";
    if (!gate.empty())
        behaviour += "gate " + gate.string() + "\n";
    writeFile(installerFile().string() + ".conf", behaviour);
}

std::vector<std::string> ManagerTest::installerLogLines() const
{
    std::vector<std::string> lines;
    std::ifstream input(installerLog().string());
    std::string line;
    while (std::getline(input, line))
        lines.push_back(line);
    return lines;
}

Updater::UpdatePolicy& ManagerTest::reactLikeWindow(const ProductKey& key)
{
    policy = std::make_unique<Updater::UpdatePolicy>(manager(), key, view);
    journal().reaction = [this](const ProductChangedEvent&) { policy->onStatusChanged(); };
    return *policy;
}

bool ManagerTest::tickUntil(const std::function<bool()>& done, std::chrono::seconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline)
    {
        if (policy)
            policy->onTick();
        else
        {
            manager().pollStates();
            manager().processCompletedInstall();
        }
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return done();
}

UpdateStatus ManagerTest::statusOf(const ProductKey& key)
{
    return manager().getProductInfo(key).installer.getStatus();
}

void ManagerTest::destroyManager()
{
    policy.reset();
    eventJournal.reset();
    managerObject.reset();
}

std::vector<LogLine> ManagerTest::finish()
{
    finished = true;
    destroyManager();
    server.reset();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline &&
           (threadsOfThisProcess() != baselineThreads ||
            openHandlesOfThisProcess() != baselineDescriptors))
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(threadsOfThisProcess(), baselineThreads) << "a thread outlived the manager";
    EXPECT_EQ(openHandlesOfThisProcess(), baselineDescriptors) << "a file stayed open";
    capturedLog = logCapture->text();
    return parseLogEntries(capturedLog);
}

std::vector<std::string> ManagerTest::messagesStartingWith(const std::vector<LogLine>& lines,
                                                           const std::string& prefix)
{
    std::vector<std::string> found;
    for (const LogLine& line : lines)
        if (line.message.rfind(prefix, 0) == 0)
            found.push_back(line.message);
    return found;
}

std::string ManagerTest::readFile(const fs::path& file)
{
    std::ifstream input(file.string(), std::ios::binary);
    std::ostringstream content;
    content << input.rdbuf();
    return content.str();
}

void ManagerTest::writeFile(const fs::path& file, const std::string& content)
{
    std::ofstream output(file.string(), std::ios::binary | std::ios::trunc);
    output << content;
}

std::string ManagerTest::md5Of(const std::string& content)
{
    Poco::MD5Engine engine;
    engine.update(content.data(), content.size());
    return Poco::DigestEngine::digestToHex(engine.digest());
}

std::vector<std::string> withoutRepeats(const std::vector<std::string>& entries)
{
    std::vector<std::string> collapsed;
    for (const std::string& entry : entries)
        if (collapsed.empty() || collapsed.back() != entry)
            collapsed.push_back(entry);
    return collapsed;
}

std::vector<std::string> entriesStartingWith(const std::vector<std::string>& entries,
                                             const std::string& prefix)
{
    std::vector<std::string> found;
    for (const std::string& entry : entries)
        if (entry.rfind(prefix, 0) == 0)
            found.push_back(entry);
    return found;
}

} // namespace Veltora::Testing
