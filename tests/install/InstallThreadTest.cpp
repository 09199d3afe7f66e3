#include "UpdateManager/install/InstallThread.h"
#include "UpdateManager/install/Installer.h"

#include "tests/support/LogCapture.h"
#include "tests/support/ProcessorPinning.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestSystem.h"
#include "tests/support/TextSearch.h"
#include "tests/support/WaitUntil.h"

#include <gtest/gtest.h>

#include <boost/filesystem/fstream.hpp>
#include <boost/filesystem/operations.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <thread>
#include <vector>

using namespace Veltora::UpdateManager;
namespace fs = boost::filesystem;

namespace
{
std::vector<std::string> readLines(const fs::path& file)
{
    std::vector<std::string> lines;
    fs::ifstream in(file);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

bool waitFor(const std::function<bool()>& condition)
{
    return Veltora::Testing::waitUntil(condition, std::chrono::seconds(20));
}

bool contains(const std::vector<std::string>& lines, const std::string& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class InstallThreadTest : public ::testing::Test
{
protected:
    void TearDown() override { InstallThread::destroyInstance(); }

    // Copies the fake installer to `name` in the test folder, without execute permission
    // (the launch has to grant it), with the given behaviour.
    fs::path placeInstaller(const std::string& name, int exitCode, const fs::path& gate = {})
    {
        const fs::path file = folder / name;
        fs::create_directories(file.parent_path());
        fs::copy_file(FAKE_INSTALLER, file, fs::copy_options::overwrite_existing);
        fs::permissions(file, fs::owner_read | fs::owner_write);
        fs::ofstream conf(file.string() + ".conf");
        conf << "exit " << exitCode << "\nlog " << record.string() << "\n";
        if (!gate.empty())
            conf << "gate " << gate.string() << "\n";
        return file;
    }

    std::unique_ptr<Installer> installerAt(const fs::path& file, bool silent = true)
    {
        auto installer = std::make_unique<Installer>();
        installer->setSource("http://host/" + file.filename().string(), file);
        installer->setSilent(silent);
        installer->setStatus(InstallInProgress);
        return installer;
    }

    // Pops finished installers until `installer` comes back.
    bool waitUntilFinished(const Installer* installer)
    {
        return waitFor(
            [&]
            {
                Installer* popped = InstallThread::getInstance()->popFinished();
                return popped == installer;
            });
    }

    std::vector<std::string> recorded() const { return readLines(record); }

    Veltora::Testing::TempFolder folder;
    fs::path record = folder / "record.txt";
};

struct ExitCase
{
    const char* name;
    int exitCode;
    UpdateStatus expected;
};

void PrintTo(const ExitCase& testCase, std::ostream* out)
{
    *out << testCase.name;
}

class InstallerExitCode : public InstallThreadTest, public ::testing::WithParamInterface<ExitCase>
{
};

TEST_P(InstallerExitCode, GivesTheStatus)
{
    const fs::path file = placeInstaller("Setup.exe", GetParam().exitCode);
    auto installer = installerAt(file);
    installer->startInstall();
    ASSERT_TRUE(waitUntilFinished(installer.get()));
    EXPECT_EQ(installer->getStatus(), GetParam().expected);
    EXPECT_EQ(installer->progress(), -1.0);
    EXPECT_TRUE(contains(recorded(), "end Setup.exe"));
}

INSTANTIATE_TEST_SUITE_P(Codes, InstallerExitCode,
                         ::testing::Values(ExitCase{"Success", 0, InstallComplete},
                                           ExitCase{"Cancelled", 1, Error},
                                           ExitCase{"OtherFailure", 42, Error}),
                         [](const ::testing::TestParamInfo<ExitCase>& caseInfo)
                         { return caseInfo.param.name; });

TEST_F(InstallThreadTest, ChildGetsItsPathAndSilentFlag)
{
    const fs::path file = placeInstaller("Program Files/Setup 1.exe", 0);
    for (const bool silent : {true, false})
    {
        fs::remove(record);
        auto installer = installerAt(file, silent);
        installer->startInstall();
        ASSERT_TRUE(waitUntilFinished(installer.get()));
        std::vector<std::string> expected{"start Setup 1.exe", "arg " + file.string()};
        if (silent)
            expected.push_back("arg /SILENT");
        expected.push_back("end Setup 1.exe");
        EXPECT_EQ(recorded(), expected) << "silent " << silent;
    }
}

TEST_F(InstallThreadTest, MissingInstallerNeedsAnUpdateAndStillFinishes)
{
    Veltora::Testing::LogCapture log({"install"});
    const fs::path file = folder / "Setup.exe";
    auto installer = installerAt(file);
    installer->startInstall();
    ASSERT_TRUE(waitUntilFinished(installer.get()));
    EXPECT_EQ(installer->getStatus(), UpdateNeeded);
    InstallThread::destroyInstance();
    const std::string text = log.text();
    EXPECT_NE(text.find("Run " + file.string()), std::string::npos) << text;
    EXPECT_NE(text.find("\"" + file.string() + "\" does not exist"), std::string::npos) << text;
}

TEST_F(InstallThreadTest, ProgramThatCannotStartIsAnError)
{
    const fs::path file = folder / "Setup.exe";
    fs::ofstream(file) << "neither a program nor a script\n";
    auto installer = installerAt(file);
    installer->startInstall();
    ASSERT_TRUE(waitUntilFinished(installer.get()));
    EXPECT_EQ(installer->getStatus(), Error);
}

TEST_F(InstallThreadTest, LogsHowItOpensTheInstaller)
{
    Veltora::Testing::LogCapture log({"install"});
    const fs::path file = placeInstaller("Setup.exe", 0);
    auto silentOne = installerAt(file, true);
    auto visibleOne = installerAt(file, false);
    silentOne->startInstall();
    visibleOne->startInstall();
    ASSERT_TRUE(waitUntilFinished(silentOne.get()));
    ASSERT_TRUE(waitUntilFinished(visibleOne.get()));
    InstallThread::destroyInstance();
    const std::string text = log.text();
    EXPECT_NE(text.find("Start install thread"), std::string::npos) << text;
    EXPECT_NE(text.find("Open silent installer " + file.string()), std::string::npos) << text;
    EXPECT_NE(text.find("Open installer " + file.string()), std::string::npos) << text;
}

TEST_F(InstallThreadTest, InstallersRunOneAfterTheOther)
{
    const fs::path gate = folder / "gate";
    auto first = installerAt(placeInstaller("First.exe", 0, gate));
    auto second = installerAt(placeInstaller("Second.exe", 1));
    first->startInstall();
    second->startInstall();
    ASSERT_TRUE(waitFor([&] { return contains(recorded(), "start First.exe"); }));
    fs::ofstream(gate).close();
    ASSERT_TRUE(waitUntilFinished(first.get()));
    ASSERT_TRUE(waitUntilFinished(second.get()));

    std::vector<std::string> events;
    for (const std::string& line : recorded())
        if (line.rfind("start ", 0) == 0 || line.rfind("end ", 0) == 0)
            events.push_back(line);
    EXPECT_EQ(events, (std::vector<std::string>{"start First.exe", "end First.exe",
                                                "start Second.exe", "end Second.exe"}));
    EXPECT_EQ(first->getStatus(), InstallComplete);
    EXPECT_EQ(second->getStatus(), Error);
}

TEST_F(InstallThreadTest, DestructionWaitsForTheRunningInstaller)
{
    const fs::path gate = folder / "gate";
    auto installer = installerAt(placeInstaller("Setup.exe", 0, gate));
    installer->startInstall();
    ASSERT_TRUE(waitFor([&] { return contains(recorded(), "start Setup.exe"); }));

    std::atomic<bool> installerEndedFirst{false};
    std::thread destroyer(
        [&]
        {
            InstallThread::destroyInstance();
            installerEndedFirst = contains(recorded(), "end Setup.exe");
        });
    fs::ofstream(gate).close();
    destroyer.join();
    EXPECT_TRUE(installerEndedFirst);
    EXPECT_EQ(installer->getStatus(), InstallComplete);
}

// When the rings are full the installer is refused with an error instead of staying
// "in progress" for ever.
TEST_F(InstallThreadTest, FullRingsAreReported)
{
    Veltora::Testing::LogCapture log({"install"});
    const fs::path gate = folder / "gate";
    auto blocking = installerAt(placeInstaller("Setup.exe", 0, gate));
    blocking->startInstall();
    ASSERT_TRUE(waitFor([&] { return contains(recorded(), "start Setup.exe"); }));

    std::deque<Installer> waiting(33);
    for (Installer& installer : waiting)
    {
        installer.setSource("http://host/Gone.exe", folder / "Gone.exe");
        installer.setStatus(InstallInProgress);
        installer.startInstall();
    }
    EXPECT_EQ(waiting.back().getStatus(), Error);
    waiting.pop_back();

    fs::ofstream(gate).close();
    // The finished ring holds 32: the blocking installer and 31 of the waiting ones.
    ASSERT_TRUE(waitFor([&] { return waiting.back().getStatus() == Error; }));
    EXPECT_EQ(InstallThread::getInstance()->popFinished(), blocking.get());
    for (std::size_t index = 0; index + 1 < waiting.size(); ++index)
    {
        EXPECT_EQ(InstallThread::getInstance()->popFinished(), &waiting[index]);
        EXPECT_EQ(waiting[index].getStatus(), UpdateNeeded);
    }
    EXPECT_FALSE(InstallThread::getInstance()->hasFinished());
    InstallThread::destroyInstance();
    const std::string text = log.text();
    EXPECT_NE(text.find("Cannot queue installer "), std::string::npos) << text;
    EXPECT_NE(text.find("Cannot record the end of installer "), std::string::npos) << text;
}

// An installer whose end cannot be recorded is named in the error by the path it was run
// from. Its new status lets the update manager give it another source at once, so the
// path must be taken before that status is published (ThreadSanitizer reports the race).
TEST_F(InstallThreadTest, UnrecordedInstallerIsNamedByThePathItRanFrom)
{
    Veltora::Testing::LogCapture log({"install"});
    // The install thread on a processor of its own, so that it cannot finish an installer
    // while this thread waits for the processor.
    const Veltora::Testing::ProcessorPinning pinning([] { InstallThread::getInstance(); });
    std::deque<Installer> finished(32);
    for (Installer& installer : finished)
    {
        installer.setSource("http://host/Gone.exe", folder / "Gone.exe");
        installer.setStatus(InstallInProgress);
        installer.startInstall();
    }
    ASSERT_TRUE(waitFor(
        [&]
        {
            return std::all_of(finished.begin(), finished.end(),
                               [](const Installer& installer)
                               { return installer.getStatus() == UpdateNeeded; });
        }));

    // Many in turn: the manager must catch one in the moment between its status and its
    // report for the race to show.
    std::deque<Installer> extras(20);
    for (Installer& extra : extras)
    {
        extra.setSource("http://host/Extra.exe", folder / "Extra.exe");
        extra.setStatus(InstallInProgress);
        extra.startInstall();
        // What the update manager may do the moment the installer is no longer busy; the
        // wait spins so as not to miss that moment.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (extra.getStatus() == InstallInProgress &&
               std::chrono::steady_clock::now() < deadline)
        {
        }
        EXPECT_TRUE(waitFor(
            [&]
            {
                extra.setSource("http://host/Other.exe", folder / "Other.exe");
                return extra.getStatus() == Error;
            }));
    }

    InstallThread::destroyInstance();
    const std::string text = log.text();
    EXPECT_EQ(Veltora::Testing::countOf(text, "Cannot record the end of installer " +
                                                  (folder / "Extra.exe").string() +
                                                  ": too many finished installers are waiting"),
              extras.size())
        << text;
}

// Quote characters in a path are part of the file's name: the child gets the path exactly,
// never with quotes added or taken away.
TEST_F(InstallThreadTest, PathWithQuoteCharactersReachesTheChildAsItIs)
{
    if (!Veltora::Testing::fileNamesMayHoldQuotes())
        GTEST_SKIP() << "no file name holds a double quote here";
    const fs::path file = placeInstaller("\"Setup.exe\"", 0);
    const fs::path previous = fs::current_path();
    fs::current_path(folder.path());
    const bool ok = Installer::spawnInstaller("\"Setup.exe\"", true);
    fs::current_path(previous);
    EXPECT_TRUE(ok);
    EXPECT_EQ(recorded(), (std::vector<std::string>{"start \"Setup.exe\"", "arg \"Setup.exe\"",
                                                    "arg /SILENT", "end \"Setup.exe\""}));
}

} // namespace
