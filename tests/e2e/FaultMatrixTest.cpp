// The fault matrix: the real updater binary, on a private Xvfb display, against a loopback
// server that misbehaves or in a setting that is hostile or unusual; one row per fault or
// failure road. A row arranges the run (server answers, environment, planted files,
// relaunch arguments) and says what the user does; every row is checked the same way: the
// exit status, the one line on standard error that names the cause of a failed run (and
// nothing there after a successful one), the files left in the Downloads folder and in the
// working folder, planted files untouched, texts that must never be printed, and what the
// installer and the relaunched product received. Both children are the child probe, which
// records its arguments, its blocked and ignored signals and its open descriptors.
//
// A new row needs only an `arrange` function and its expectations: a server behaviour is
// set up through `run.server` (HttpTestServer, after publishProbeRelease to replace a
// route), the --server text through `run.serverArgument` (or the whole command line
// through `run.argumentsInstead`), an environment change (log levels, say) through
// `run.options`; a text the output must never show (a password) goes into `run.secrets`,
// one it must show into `run.shown`, and what the failure line must name besides the
// row's text into `run.shownOnError`. A run that does not end within the deadline fails
// its row.
#include "tests/e2e/UpdaterRunFixture.h"

#include "tests/support/ChildProbeRecord.h"
#include "tests/support/WaitUntil.h"

#include <boost/filesystem/operations.hpp>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <set>
#include <unistd.h>

namespace fs = boost::filesystem;
using namespace Veltora::Testing;

namespace
{
const std::string productName = "product";

// Every log category at its lowest level.
const std::string everyLogLine = "update_manager=debug,install=debug,download=debug,web=debug,"
                                 "description=debug,timing=debug,external=debug";

// Relaunch arguments that must reach the product byte for byte.
const std::vector<std::string> awkwardArguments = {
    "\"quoted\"", "ends\"",      "\"starts",      "\"",       "\"\"",          "",   "two words",
    "tab\there",  "line\nbreak", "back\\slash\\", "--server", "--product-sku", "--", "caf\xC3\xA9"};

enum class UserAction
{
    None,
    QuitAfterInstallFailed,   // clicks "Quit" once the window offers the buttons
    CloseWindowDuringDownload // closes the window while the installer is being downloaded
};

enum class DownloadsLeft
{
    Nothing,
    NoConfirmFile,          // at most a partial installer
    InstallerAndConfirmFile // kept for a later run
};

class FaultRun;

struct FaultRow
{
    const char* name;
    std::function<void(FaultRun&)> arrange;
    UserAction user;
    int status;
    bool installerRuns;
    bool productRelaunched;
    DownloadsLeft downloadsLeft;
    // What the one line on standard error names; nullptr: a run that ends with 0 writes
    // nothing there.
    const char* failureLine;
};

void PrintTo(const FaultRow& row, std::ostream* out)
{
    *out << row.name;
}

class FaultRun : public UpdaterRun, public ::testing::WithParamInterface<FaultRow>
{
public:
    // What a row's arrange function may set up.
    using UpdaterRun::downloads;
    using UpdaterRun::server;
    using UpdaterRun::stallHalfway;
    using UpdaterRun::transfersToCut;
    using UpdaterRun::work;

    FaultRun()
    {
        fs::create_directories(records);
        options.environment["CHILD_PROBE_RECORD_DIR"] = records.string();
        options.errorFile = root / "updater.err";
    }
    ~FaultRun() override
    {
        // The folder's own removal needs its owner's rights back.
        fs::permissions(work, fs::perms::owner_all);
    }

    // A release whose installer is the child probe; `extra` as for publishRelease.
    void publishProbeRelease(const std::map<std::string, std::string>& extra = {})
    {
        publishRelease(readFile(CHILD_PROBE), extra);
    }

    // The product is started again with these arguments after its own path.
    void relaunchWith(const std::vector<std::string>& arguments)
    {
        relaunch = true;
        relaunchArguments = arguments;
    }

    // The resources answer's header comes at once, its body one byte per `interval`.
    void dribbleResourcesAnswer(std::chrono::milliseconds interval)
    {
        HttpReply reply = HttpReply::json(R"({"total":1,"resources":[]})");
        reply.dribbleBytes = 1;
        reply.dribbleInterval = interval;
        server.reply(resourcesPath(), reply);
    }

    // Every answer for the installer, resumes included, sends one byte per `interval`.
    void dribbleInstaller(std::chrono::milliseconds interval)
    {
        server.on(installerPath,
                  [this, interval](const RecordedRequest& request)
                  {
                      HttpReply reply = installerReply(request);
                      reply.dribbleBytes = 1;
                      reply.dribbleInterval = interval;
                      return reply;
                  });
    }

    void plantFile(const fs::path& file, const std::string& content)
    {
        fs::create_directories(file.parent_path());
        writeExecutable(file, content);
        planted[file] = content;
    }

    void plantLink(const fs::path& link, const fs::path& target)
    {
        fs::create_directories(link.parent_path());
        fs::create_symlink(target, link);
        plantedLinks.push_back(link);
    }

    // The working folder cannot be written by the updater. A process with the right to
    // write anywhere (root) is started without that right.
    void makeWorkFolderReadOnly()
    {
        fs::permissions(work, fs::perms::owner_read | fs::perms::owner_exe | fs::perms::group_read |
                                  fs::perms::group_exe | fs::perms::others_read |
                                  fs::perms::others_exe);
        if (canStillWrite(work))
            launcher = {"setpriv", "--bounding-set", "-dac_override,-dac_read_search,-fowner",
                        "--"};
    }

    std::vector<std::string> commandLine() const
    {
        if (!argumentsInstead.empty())
            return argumentsInstead;
        std::vector<std::string> arguments = {"--product-sku", sku, "--server",
                                              serverArgument.empty() ? server.hostAndPort()
                                                                     : serverArgument};
        if (relaunch)
        {
            arguments.insert(arguments.end(), {"--", product.string()});
            arguments.insert(arguments.end(), relaunchArguments.begin(), relaunchArguments.end());
        }
        return arguments;
    }

    void performUserAction(UserAction action, ChildProcess& updater)
    {
        if (action == UserAction::QuitAfterInstallFailed)
        {
            const auto window = waitForWindowShowing(showsButtonsWithoutBar, updater);
            ASSERT_TRUE(window) << updater.output();
            ASSERT_TRUE(clickPanel(*window, quitArea));
        }
        if (action == UserAction::CloseWindowDuringDownload)
        {
            std::optional<std::string> window;
            ASSERT_TRUE(waitUntil(
                [&]
                {
                    window = screen.visibleWindow("Auto Update");
                    return !updater.running() || (window && !installerRequests().empty());
                },
                runTimeout));
            ASSERT_TRUE(window) << updater.output();
            ASSERT_TRUE(screen.askToClose(*window));
        }
    }

    void checkDownloads(DownloadsLeft left) const
    {
        const std::vector<std::string> files = downloadedFiles();
        switch (left)
        {
        case DownloadsLeft::Nothing:
            EXPECT_TRUE(files.empty());
            break;
        case DownloadsLeft::NoConfirmFile:
            for (const std::string& name : files)
                EXPECT_EQ(name, installerName) << "no confirm file for an incomplete download";
            break;
        case DownloadsLeft::InstallerAndConfirmFile:
            EXPECT_EQ(files, (std::vector<std::string>{installerName, installerName + ".confirm"}));
            break;
        }
    }

    // Planted files keep their content and planted links stay links; the working folder
    // and the folder elsewhere hold nothing but what was planted there.
    void checkPlantedFiles() const
    {
        for (const auto& [file, content] : planted)
            EXPECT_EQ(readFile(file), content) << file;
        for (const fs::path& link : plantedLinks)
            EXPECT_TRUE(fs::is_symlink(link)) << link;
        for (const fs::path& folder : {work, elsewhere})
            EXPECT_EQ(entriesBelow(folder), plantedEntriesBelow(folder))
                << "nothing else in " << folder;
    }

    // One line names the cause of a failed run; a successful one writes nothing there.
    void checkFailureLine(const FaultRow& row, const std::string& errors) const
    {
        if (row.failureLine == nullptr)
        {
            EXPECT_EQ(errors, "");
            return;
        }
        EXPECT_EQ(lines(errors).size(), 1u) << errors;
        EXPECT_EQ(errors.rfind("updater: ", 0), 0u) << errors;
        EXPECT_TRUE(contains(errors, row.failureLine)) << errors;
        for (const std::string& text : shownOnError)
            EXPECT_TRUE(contains(errors, text)) << text << "\n" << errors;
    }

    void checkChildren(const FaultRow& row) const
    {
        const auto installer = readChildProbeRecord(records, installerName);
        EXPECT_EQ(installer.has_value(), row.installerRuns);
        if (installer)
        {
            EXPECT_EQ(installer->arguments,
                      (std::vector<std::string>{(downloads / installerName).string(), "/SILENT"}));
            EXPECT_TRUE(installer->startedClean()) << "installer: " << *installer;
        }
        const auto relaunched = readChildProbeRecord(records, productName);
        EXPECT_EQ(relaunched.has_value(), row.productRelaunched);
        if (relaunched)
        {
            std::vector<std::string> expected = {product.string()};
            expected.insert(expected.end(), relaunchArguments.begin(), relaunchArguments.end());
            EXPECT_EQ(relaunched->arguments, expected);
            EXPECT_TRUE(relaunched->startedClean()) << "product: " << *relaunched;
        }
    }

    fs::path product = root / "product dir" / productName;
    fs::path records = root / "records";
    fs::path elsewhere = root / "elsewhere";
    ChildProcess::Options options = updaterOptions("update_manager=error,description=error");
    std::vector<std::string> launcher;
    bool relaunch = false;
    std::vector<std::string> relaunchArguments;
    std::map<fs::path, std::string> planted;
    std::vector<fs::path> plantedLinks;
    // The text given with --server; empty: the loopback server's host and port.
    std::string serverArgument;
    std::vector<std::string> secrets;
    // Texts the output must show, such as the masked form of those secrets (which proves
    // that the lines that would carry them were written).
    std::vector<std::string> shown;
    // Texts the line on standard error must hold besides the row's own.
    std::vector<std::string> shownOnError;
    // The whole command line, when not the usual one.
    std::vector<std::string> argumentsInstead;

private:
    // Everything below `folder`, links not followed, as relative paths.
    static std::set<std::string> entriesBelow(const fs::path& folder)
    {
        std::set<std::string> entries;
        if (!fs::exists(folder))
            return entries;
        for (fs::recursive_directory_iterator entry(folder), end; entry != end; ++entry)
            entries.insert(entry->path().lexically_relative(folder).string());
        return entries;
    }

    std::set<std::string> plantedEntriesBelow(const fs::path& folder) const
    {
        std::set<std::string> entries;
        auto addWithParents = [&](const fs::path& path)
        {
            if (!isInside(path, folder))
                return;
            for (fs::path part = path.lexically_relative(folder); !part.empty() && part != ".";
                 part = part.parent_path())
                entries.insert(part.string());
        };
        for (const auto& [file, content] : planted)
            addWithParents(file);
        for (const fs::path& link : plantedLinks)
            addWithParents(link);
        return entries;
    }

    static bool canStillWrite(const fs::path& folder)
    {
        const fs::path probe = folder / "write-probe";
        const int descriptor = open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
        if (descriptor < 0)
            return false;
        close(descriptor);
        fs::remove(probe);
        return true;
    }

    static bool isInside(const fs::path& path, const fs::path& folder)
    {
        const std::string relative = path.lexically_relative(folder).string();
        return !relative.empty() && relative.compare(0, 2, "..") != 0;
    }
};

} // namespace

TEST_P(FaultRun, EndsAsTheRowSays)
{
    const FaultRow& row = GetParam();
    fs::create_directories(product.parent_path());
    fs::copy_file(CHILD_PROBE, product);
    row.arrange(*this);

    auto updater = startUpdater(commandLine(), options, launcher);
    performUserAction(row.user, *updater);
    const auto status = updater->waitFor(runTimeout);
    const std::string output = updater->output();
    const std::string errors = updater->errorOutput();

    EXPECT_EQ(status, row.status) << output << errors;
    checkFailureLine(row, errors);
    checkDownloads(row.downloadsLeft);
    checkPlantedFiles();
    checkChildren(row);
    for (const std::string& secret : secrets)
        EXPECT_FALSE(contains(output + errors, secret)) << secret << "\n" << output << errors;
    for (const std::string& text : shown)
        EXPECT_TRUE(contains(output, text)) << text << "\n" << output;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FaultRun,
    ::testing::Values(
        // A completed update: the installer and the product start with default signal
        // actions, nothing blocked and only descriptors 0 to 2; the product gets exactly
        // the arguments after "--".
        FaultRow{"UpdatedAndRelaunchedWithExactArguments",
                 [](FaultRun& run)
                 {
                     run.publishProbeRelease();
                     run.relaunchWith(awkwardArguments);
                 },
                 UserAction::None, 0, true, true, DownloadsLeft::Nothing, nullptr},
        FaultRow{"UpdatedWithoutRelaunchArguments",
                 [](FaultRun& run) { run.publishProbeRelease(); }, UserAction::None, 0, true, false,
                 DownloadsLeft::Nothing, nullptr},
        // An update that was started and did not complete ends with 2; the line on
        // standard error says why.
        FaultRow{"UpdateFailed",
                 [](FaultRun& run)
                 {
                     run.publishProbeRelease({{"checksum", "\"" + md5Of("other") + "\""}});
                     run.relaunchWith({});
                     run.shownOnError.push_back((run.downloads / installerName).string());
                 },
                 UserAction::None, 2, false, false, DownloadsLeft::NoConfirmFile,
                 "failed its check: MD5 "},
        FaultRow{"DownloadOfAnotherSizeThanDescribed",
                 [](FaultRun& run)
                 {
                     run.publishProbeRelease(
                         {{"size", std::to_string(readFile(CHILD_PROBE).size() - 1)}});
                     run.shownOnError.push_back((run.downloads / installerName).string());
                 },
                 UserAction::None, 2, false, false, DownloadsLeft::NoConfirmFile,
                 "failed its check: size "},
        FaultRow{"InstallFailedThenQuit",
                 [](FaultRun& run)
                 {
                     run.publishProbeRelease();
                     run.options.environment["CHILD_PROBE_EXIT_CODE"] = "3";
                     run.relaunchWith({"argument"});
                     run.shownOnError.push_back("installer " +
                                                (run.downloads / installerName).string());
                 },
                 UserAction::QuitAfterInstallFailed, 2, true, false,
                 DownloadsLeft::InstallerAndConfirmFile, "ended with status 3"},
        FaultRow{"WindowClosedDuringTheDownload",
                 [](FaultRun& run)
                 {
                     run.stallHalfway = true;
                     run.publishProbeRelease();
                     run.relaunchWith({});
                 },
                 UserAction::CloseWindowDuringDownload, 2, false, false,
                 DownloadsLeft::NoConfirmFile,
                 "the update of \"E2E\" was ended before it completed"},
        // Updates that cannot start end with 1.
        FaultRow{"ServerUnreachable",
                 [](FaultRun& run)
                 {
                     const std::string closed =
                         "127.0.0.1:" + std::to_string(HttpTestServer::closedPort());
                     run.serverArgument = "user:secret@" + closed;
                     run.secrets.push_back("secret");
                     run.shownOnError.push_back("cannot reach http://user:***@" + closed + ": ");
                 },
                 UserAction::None, 1, false, false, DownloadsLeft::Nothing, "Connection refused"},
        FaultRow{"ProductUnknownToTheServer",
                 [](FaultRun& run)
                 { run.shownOnError.push_back(" not found on " + run.server.hostAndPort()); },
                 UserAction::None, 1, false, false, DownloadsLeft::Nothing, "product \"E2E\""},
        FaultRow{"ReleaseForANewerSystem",
                 [](FaultRun& run) {
                     run.publishProbeRelease({{"platform_min_version", "\"999.0\""}});
                 },
                 UserAction::None, 1, false, false, DownloadsLeft::Nothing,
                 "release 2.0 of \"E2E\" needs Linux 999.0 or later (this is "},
        FaultRow{"CommandLineWithoutProduct",
                 [](FaultRun& run) {
                     run.argumentsInstead = {"--server", run.server.hostAndPort()};
                 },
                 UserAction::None, 1, false, false, DownloadsLeft::Nothing, "no product given"},
        FaultRow{
            "ProductCannotBeStartedAgain",
            [](FaultRun& run)
            {
                run.publishProbeRelease();
                run.relaunchWith({});
                fs::remove(run.product);
                run.shownOnError.push_back(run.product.string() + ": No such file or directory");
            },
            UserAction::None, 1, true, false, DownloadsLeft::Nothing, "cannot start the product "},
        // No Downloads folder: nothing is downloaded anywhere, a user's file that carries
        // the installer's name in the working folder stays as it is, and the update
        // cannot start.
        FaultRow{"NoDownloadsFolder",
                 [](FaultRun& run)
                 {
                     for (const char* name : {"HOME", "XDG_DOWNLOAD_DIR", "XDG_CONFIG_HOME"})
                         run.options.environment[name] = "";
                     run.publishProbeRelease();
                     run.plantFile(run.work / installerName, "#!/bin/sh\necho the user's own\n");
                     run.relaunchWith({});
                 },
                 UserAction::None, 1, false, false, DownloadsLeft::Nothing, "no Downloads folder"},
        // The release-notes copy is never written through a planted link.
        FaultRow{"ReleaseNotesCopyIsALinkToAFileElsewhere",
                 [](FaultRun& run)
                 {
                     run.publishProbeRelease({{"release_notes_html", "\"<p>notes</p>\""}});
                     run.plantFile(run.elsewhere / "precious.txt", "the user's precious text");
                     run.plantLink(run.work / "temp" / (sku + ".html"),
                                   run.elsewhere / "precious.txt");
                 },
                 UserAction::None, 0, true, false, DownloadsLeft::Nothing, nullptr},
        FaultRow{"ReleaseNotesFolderIsALinkToAFolderElsewhere",
                 [](FaultRun& run)
                 {
                     run.publishProbeRelease({{"release_notes_html", "\"<p>notes</p>\""}});
                     run.plantFile(run.elsewhere / "other.txt", "kept");
                     run.plantLink(run.work / "temp", run.elsewhere);
                 },
                 UserAction::None, 0, true, false, DownloadsLeft::Nothing, nullptr},
        // A release-notes copy that cannot be written does not stop the update.
        FaultRow{"ReadOnlyWorkingFolder",
                 [](FaultRun& run)
                 {
                     run.publishProbeRelease({{"release_notes_html", "\"<p>notes</p>\""}});
                     run.makeWorkFolderReadOnly();
                 },
                 UserAction::None, 0, true, false, DownloadsLeft::Nothing, nullptr},
        // No wait without end: an address the updater cannot fetch fails the download at
        // once; a resources answer that never completes meets the query's deadline; an
        // installer that trickles in counts as cut by the low-speed limit, and after five
        // resumes the update fails.
        FaultRow{"PermalinkWithTheFtpScheme",
                 [](FaultRun& run)
                 {
                     run.publishProbeRelease({{"permalink", "\"ftp://" + run.server.hostAndPort() +
                                                                installerPath + "\""}});
                     run.relaunchWith({});
                     run.shownOnError.push_back("cannot download ftp://" +
                                                run.server.hostAndPort() + installerPath);
                 },
                 UserAction::None, 2, false, false, DownloadsLeft::Nothing,
                 "only http and https addresses can be fetched"},
        FaultRow{"ResourcesAnswerDribbled",
                 [](FaultRun& run)
                 {
                     run.publishProbeRelease();
                     run.dribbleResourcesAnswer(std::chrono::seconds(3));
                 },
                 UserAction::None, 1, false, false, DownloadsLeft::Nothing,
                 "longer than its deadline"},
        FaultRow{"InstallerDribbled",
                 [](FaultRun& run)
                 {
                     run.publishProbeRelease();
                     run.dribbleInstaller(std::chrono::seconds(5));
                     run.options.environment["UPDATER_LOW_SPEED_LIMIT"] = "1024/1";
                     run.shownOnError.push_back("the download of " + run.server.url(installerPath) +
                                                " was cut off 6 times");
                 },
                 UserAction::None, 2, false, false, DownloadsLeft::NoConfirmFile,
                 " arrived in 1 s"},
        // A password in the server's address and in the permalink reaches no log line at
        // any level, while both addresses are used with it.
        FaultRow{"PasswordsInAddressesStayOutOfTheLog",
                 [](FaultRun& run)
                 {
                     run.server.requireBasicAuth("user", "secret");
                     run.serverArgument = "user:secret@" + run.server.hostAndPort();
                     const std::string permalink = run.server.url(installerPath);
                     run.publishProbeRelease(
                         {{"permalink", "\"http://user:secret@" +
                                            permalink.substr(permalink.find("//") + 2) + "\""}});
                     run.options.environment["UPDATER_LOG"] = everyLogLine;
                     run.secrets.push_back("secret");
                     run.shown.push_back("user:***@");
                 },
                 UserAction::None, 0, true, false, DownloadsLeft::Nothing, nullptr}),
    [](const ::testing::TestParamInfo<FaultRow>& testCase) { return testCase.param.name; });
