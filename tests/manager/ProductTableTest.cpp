// The product table: server answers turned into descriptions and statuses, the
// containment of bad answers, and the operations' refusals.

#include "tests/manager/ManagerHarness.h"
#include "tests/support/DownloadsFolder.h"
#include "tests/support/ScopedEnvironment.h"

#include <iterator>
#include <stdexcept>

using namespace Veltora::UpdateManager;
using namespace Veltora::Testing;

namespace
{
std::size_t countMessages(const std::vector<LogLine>& log, const std::string& message)
{
    std::size_t count = 0;
    for (const LogLine& line : log)
        count += line.message == message ? 1 : 0;
    return count;
}
} // namespace

TEST_F(ManagerTest, UnreachableServerIsReportedOncePerPassAndNotAskedAgain)
{
    writeFile(root / "scanner.json", R"({"scanner": [
        {"name": "Alpha", "sku": "ALPHA", "rules": []},
        {"name": "Beta", "sku": "BETA", "rules": []}]})");
    createManager((root / "scanner.json").string(),
                  "127.0.0.1:" + std::to_string(HttpTestServer::closedPort()));
    manager().scanAll();
    EXPECT_EQ(statusOf(alpha), Unknown);
    EXPECT_EQ(statusOf({"BETA", "soft"}), Unknown);
    EXPECT_THAT(journal().entries,
                ElementsAre("changed ALPHA unknown", "changed BETA unknown", "list"));

    manager().addProduct({"GAMMA", "soft"}, "0.0");
    EXPECT_EQ(statusOf({"GAMMA", "soft"}), Unknown);

    const std::vector<LogLine> log = finish();
    EXPECT_EQ(countMessages(log, " Could not connect to resources server."), 2u);
    EXPECT_EQ(messagesStartingWith(log, "Error connecting to ").size(), 2u)
        << "BETA must not be asked once ALPHA found the server unreachable";
}

struct BadAnswer
{
    const char* name;
    std::function<HttpReply()> reply;
    std::string message;
    std::string level;
};

void PrintTo(const BadAnswer& testCase, std::ostream* out)
{
    *out << testCase.name;
}

class BadAnswerTest : public ManagerTest, public ::testing::WithParamInterface<BadAnswer>
{
};

// A bad answer is reported and leaves the description the previous pass brought.
TEST_P(BadAnswerTest, KeepsThePreviousDescription)
{
    createManager();
    publish(Release{});
    manager().addProduct(alpha, "0.0");
    ASSERT_EQ(manager().getProductInfo(alpha).description.version, "2.0.0.1");

    server->reply(resourcesPath("ALPHA"), GetParam().reply());
    manager().refreshProduct(alpha);
    const ProductDescription& description = manager().getProductInfo(alpha).description;
    EXPECT_EQ(description.version, "2.0.0.1");
    EXPECT_EQ(description.name, "Alpha");
    EXPECT_EQ(description.permalink, server->url("/files/Setup.exe"));
    EXPECT_EQ(statusOf(alpha), UpdateNeeded);

    const std::vector<LogLine> log = finish();
    std::vector<std::string> levels;
    for (const LogLine& line : log)
        if (line.category == "update_manager" && line.message == GetParam().message)
            levels.push_back(line.level);
    EXPECT_THAT(levels, ElementsAre(GetParam().level));
}

INSTANTIATE_TEST_SUITE_P(
    Manager, BadAnswerTest,
    ::testing::Values(
        BadAnswer{"NotJson", [] { return HttpReply::json("{\"total\": "); },
                  " Could not get product information for ALPHA: invalid response (no "
                  "response or invalid json format",
                  "error"},
        BadAnswer{"ServerError", [] { return HttpReply::withStatus(500, "{}"); },
                  " Could not get product information for ALPHA: invalid response (no "
                  "response or invalid json format",
                  "error"},
        BadAnswer{"CountDiffersFromTotal",
                  []
                  {
                      Release release;
                      release.permalink = "http://127.0.0.1/x/Other.exe";
                      return HttpReply::json(resourcesAnswer({release}, 2));
                  },
                  " Could not get product information for ALPHA: invalid resource data", "warning"},
        BadAnswer{"NoResource", [] { return HttpReply::json(resourcesAnswer({}, 0)); },
                  " Could not get product information for ALPHA: invalid resource data", "warning"},
        BadAnswer{"OtherProduct",
                  []
                  {
                      Release release;
                      release.sku = "OTHER";
                      release.version = "9.0";
                      return HttpReply::json(resourcesAnswer({release}, 1));
                  },
                  " Could not get product information for ALPHA: invalid description data",
                  "warning"},
        BadAnswer{"NoVersion",
                  []
                  {
                      return HttpReply::json(
                          R"({"total": 1, "resources": [{"product_sku": "ALPHA",
                              "name": "Changed", "permalink": "http://h/x.exe",
                              "resources_site_link": "http://h/"}]})");
                  },
                  " Could not get product information for ALPHA: invalid description data",
                  "warning"}),
    [](const ::testing::TestParamInfo<BadAnswer>& param) { return param.param.name; });

struct PlatformLimits
{
    const char* name;
    std::string minimum;
    std::string maximum;
    UpdateStatus expected;
    bool reported;
};

void PrintTo(const PlatformLimits& testCase, std::ostream* out)
{
    *out << testCase.name;
}

class PlatformLimitsTest : public ManagerTest, public ::testing::WithParamInterface<PlatformLimits>
{
};

// Limits without digits cannot be checked, so the release counts as not for this system;
// the tick never moves such a product.
TEST_P(PlatformLimitsTest, DecideWhetherTheReleaseIsOffered)
{
    createManager();
    Release release;
    release.platformMinVersion = GetParam().minimum;
    release.platformMaxVersion = GetParam().maximum;
    publish(release);
    manager().addProduct(alpha, "0.0");
    EXPECT_EQ(statusOf(alpha), GetParam().expected);

    if (GetParam().expected == OsNotSupported)
    {
        journal().entries.clear();
        for (int tick = 0; tick < 3; ++tick)
            manager().pollStates();
        EXPECT_TRUE(journal().entries.empty());
        EXPECT_FALSE(manager().launchDownload(alpha, false));
        EXPECT_EQ(statusOf(alpha), OsNotSupported);
    }

    const std::vector<LogLine> log = finish();
    EXPECT_EQ(!messagesStartingWith(log, " Invalid platform version for ALPHA").empty(),
              GetParam().reported);
}

INSTANTIATE_TEST_SUITE_P(
    Manager, PlatformLimitsTest,
    ::testing::Values(PlatformLimits{"WordAsMinimum", "six", "", OsNotSupported, true},
                      PlatformLimits{"EmptyComponent", "1..2", "", OsNotSupported, true},
                      PlatformLimits{"WordInMaximum", "", "x.1", OsNotSupported, true},
                      PlatformLimits{"MinimumAboveThisSystem", "65535", "", OsNotSupported, false},
                      PlatformLimits{"WithinLimits", "1", "65535", UpdateNeeded, false}),
    [](const ::testing::TestParamInfo<PlatformLimits>& param) { return param.param.name; });

class PermalinkTest : public ManagerTest, public ::testing::WithParamInterface<std::string>
{
};

// The installer's name comes from the permalink's last segment; a name that would point
// at the download folder itself, its parent or a sub path is never used.
TEST_P(PermalinkTest, WithoutAPlainFileNameTheProductReportsAnError)
{
    createManager();
    writeFile(root / "keep.txt", "kept");
    Release release;
    release.permalink = server->url(GetParam());
    publish(release);
    manager().addProduct(alpha, "0.0");
    EXPECT_EQ(statusOf(alpha), Error);
    EXPECT_TRUE(manager().getProductInfo(alpha).installer.installerPath().empty());
    EXPECT_FALSE(manager().launchDownload(alpha, true));
    EXPECT_FALSE(manager().discardDownload(alpha));
    EXPECT_FALSE(manager().launchInstaller(alpha, true));
    for (int tick = 0; tick < 3; ++tick)
        manager().pollStates();
    EXPECT_EQ(statusOf(alpha), Error);

    EXPECT_TRUE(fs::is_directory(downloads));
    EXPECT_TRUE(fs::is_empty(downloads));
    EXPECT_EQ(readFile(root / "keep.txt"), "kept");
    EXPECT_EQ(server->requestCount(), 1u) << "only the resources query";
    const std::vector<LogLine> log = finish();
    EXPECT_THAT(messagesStartingWith(log, " Invalid installer file name"),
                ElementsAre(" Invalid installer file name in '" + release.permalink +
                                "' for ALPHA: it must be a plain file name",
                            " Invalid installer file name in '" + release.permalink +
                                "' for ALPHA: it must be a plain file name"));
}

INSTANTIATE_TEST_SUITE_P(Manager, PermalinkTest,
                         ::testing::Values("/files/", "/files/.", "/files/..",
                                           "/files/sub\\Setup.exe"),
                         [](const ::testing::TestParamInfo<std::string>& param)
                         { return "Case" + std::to_string(param.index); });

// A permalink's password never reaches the log: the messages that show the permalink show
// "user:***@" instead of its user information.
TEST_F(ManagerTest, PermalinkPasswordStaysOutOfTheLog)
{
    createManager();
    Release release;
    release.permalink = "http://alice:s3cret@" + server->hostAndPort() + "/files/";
    publish(release);
    manager().addProduct(alpha, "0.0");
    EXPECT_FALSE(manager().launchDownload(alpha, true));
    const std::string masked = "http://alice:***@" + server->hostAndPort() + "/files/";

    const std::vector<LogLine> log = finish();
    for (const LogLine& line : log)
        EXPECT_EQ(line.message.find("s3cret"), std::string::npos) << line.message;
    EXPECT_FALSE(
        messagesStartingWith(log, " Invalid installer file name in '" + masked + "'").empty());
    EXPECT_EQ(messagesStartingWith(log, "Can't launch download for ALPHA: no usable installer "
                                        "file name in '" +
                                            masked + "'")
                  .size(),
              1u);
    EXPECT_EQ(
        messagesStartingWith(log, "Data for Alpha:\n  URL:            " + masked + "\n").size(),
        1u);
}

TEST_F(ManagerTest, PermalinkWithoutSlashIsTheFileName)
{
    createManager();
    EXPECT_EQ(manager().downloadPathFor("Setup.exe"), downloads / "Setup.exe");
    EXPECT_EQ(manager().downloadPathFor("http://h/a/b/Setup.exe?x"), downloads / "Setup.exe?x");
    ASSERT_TRUE(manager().setDownloadFolder(""));
    EXPECT_EQ(manager().downloadPathFor("http://h/Setup.exe"), fs::path())
        << "without a download folder there is no place for the installer";
}

// Without a Downloads folder nothing is downloaded anywhere: the product reports an error,
// and a user's file in the current folder that carries the installer's name is never
// written, run or deleted. The folder is missing from the start (no HOME, no XDG
// settings) or taken away later.
class NoDownloadsFolderTest : public ManagerTest, public ::testing::WithParamInterface<bool>
{
protected:
    NoDownloadsFolderTest() : previousFolder(fs::current_path())
    {
        fs::create_directories(current);
        fs::current_path(current);
        writeFile(current / "Setup.exe", "the user's own file");
    }
    ~NoDownloadsFolderTest() override { fs::current_path(previousFolder); }

    fs::path current = root / "current";
    fs::path previousFolder;
};

TEST_P(NoDownloadsFolderTest, MeansNoDownloadAndAnError)
{
    const bool missingFromTheStart = GetParam();
    {
        ScopedEnvironment environment;
        if (missingFromTheStart && !hideDownloadsFolder(environment))
            GTEST_SKIP() << "this system always has a Downloads folder";
        createManager();
    }
    if (!missingFromTheStart)
    {
        ASSERT_TRUE(manager().setDownloadFolder(""));
    }
    serveInstaller();
    publish(Release{});
    manager().addProduct(alpha, "0.0");

    EXPECT_EQ(statusOf(alpha), Error);
    EXPECT_TRUE(manager().getProductInfo(alpha).installer.installerPath().empty());
    EXPECT_FALSE(manager().launchDownload(alpha, true));
    EXPECT_FALSE(manager().discardDownload(alpha));
    for (int tick = 0; tick < 3; ++tick)
        manager().pollStates();
    EXPECT_EQ(statusOf(alpha), Error);

    EXPECT_EQ(readFile(current / "Setup.exe"), "the user's own file");
    EXPECT_EQ(std::distance(fs::directory_iterator(current), fs::directory_iterator()), 1);
    EXPECT_TRUE(fs::is_empty(downloads));
    EXPECT_EQ(server->requestCount(), 1u) << "only the resources query";
    const std::vector<LogLine> log = finish();
    EXPECT_EQ(countMessages(log, " Cannot download the installer of ALPHA: no Downloads folder"),
              2u)
        << "once when the product is added, once when the launch applies the status rule";
    EXPECT_EQ(countMessages(log, "Can't launch download for ALPHA: no Downloads folder"), 1u);
    EXPECT_TRUE(messagesStartingWith(log, " Invalid installer file name").empty());
}

INSTANTIATE_TEST_SUITE_P(Manager, NoDownloadsFolderTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& param)
                         { return param.param ? "FromTheStart" : "TakenAwayLater"; });

TEST_F(ManagerTest, OperationsOnAnUnknownProductAreRefused)
{
    createManager();
    const ProductKey nope{"NOPE", "soft"};
    try
    {
        manager().getProductInfo(nope);
        ADD_FAILURE() << "no exception";
    }
    catch (const std::out_of_range& error)
    {
        EXPECT_STREQ(error.what(), "invalid map<K, T> key");
    }
    EXPECT_FALSE(manager().launchDownload(nope, true));
    EXPECT_FALSE(manager().stopDownload(nope, true));
    EXPECT_FALSE(manager().discardDownload(nope));
    EXPECT_FALSE(manager().launchInstaller(nope, true));
    EXPECT_FALSE(manager().isDownloading(nope));
    // Not "soft" and not known: the pass runs on nothing.
    manager().refreshProduct(ProductKey{"NOPE", "firmware"});
    EXPECT_THROW(manager().getProductInfo("NOPE", "firmware"), std::out_of_range);
    manager().processCompletedInstall();
    EXPECT_EQ(server->requestCount(), 0u);
    EXPECT_TRUE(journal().entries.empty());

    const std::vector<LogLine> log = finish();
    std::vector<std::string> refusals;
    for (const LogLine& line : log)
        if (line.message.find("NOPE") != std::string::npos)
            refusals.push_back(line.level + ": " + line.message);
    EXPECT_THAT(
        refusals,
        ElementsAre("error: Could not find product info for NOPE while launching download",
                    "error: Could not find product info for NOPE while stopping download",
                    "error: Could not find product info for NOPE while stopping download",
                    "warning: Could not find product info for NOPE while launching install"));
}

TEST_F(ManagerTest, LaunchesAreRefusedInTheWrongStatus)
{
    createManager();
    publish(Release{});
    // A complete, confirmed installer is already on disk.
    writeFile(installerFile(), installerContent);
    writeFile(installerFile().string() + ".confirm",
              R"({"size": ")" + std::to_string(installerContent.size()) + R"("})");
    manager().addProduct(alpha, "0.0");
    ASSERT_EQ(statusOf(alpha), InstallerAvailable);
    EXPECT_FALSE(manager().launchDownload(alpha, false));
    EXPECT_EQ(statusOf(alpha), InstallerAvailable);

    manager().addProduct(alpha, "3.0");
    ASSERT_EQ(statusOf(alpha), UpToDate);
    EXPECT_FALSE(manager().launchDownload(alpha, false));
    EXPECT_FALSE(manager().launchInstaller(alpha, true));
    EXPECT_EQ(statusOf(alpha), UpToDate);
    EXPECT_EQ(server->requestCount(), 2u) << "two resources queries, no download";

    const std::vector<LogLine> log = finish();
    EXPECT_THAT(messagesStartingWith(log, " Attempt to launch download"),
                ElementsAre(" Attempt to launch download for Alpha (soft/ALPHA) but status is "
                            "installer available",
                            " Attempt to launch download for Alpha (soft/ALPHA) but status is "
                            "up-to-date"));
    EXPECT_THAT(messagesStartingWith(log, "Attempt to launch installer"),
                ElementsAre("Attempt to launch installer for Alpha (ALPHA) but installer is not "
                            "available."));
}

TEST_F(ManagerTest, DebugDumpDescribesEveryProduct)
{
    createManager();
    publish(Release{});
    manager().addProduct(alpha, "0.0");
    const std::string permalink = server->url("/files/Setup.exe");

    const std::vector<LogLine> log = finish();
    EXPECT_EQ(countMessages(log, "  Local computed data:"), 1u);
    EXPECT_THAT(messagesStartingWith(log, "Data for "),
                ElementsAre("Data for Alpha:\n  URL:            " + permalink +
                            "\n  SKU:            ALPHA\n  Type:           soft\n  Local version: "
                            " 0.0\n  Latest Version: 2.0.0.1\n  Installer File: \"" +
                            installerFile().string() + "\"\n  Status:         update needed"));
    EXPECT_EQ(countMessages(log, " Initialize UpdateManager"), 1u);
    EXPECT_EQ(countMessages(log, " Terminate UpdateManager"), 1u);
}

// A server text the URL parser refuses is reported per product instead of escaping.
TEST_F(ManagerTest, UnparsableServerAddressIsReportedNotThrown)
{
    createManager({}, "http://[::1");
    EXPECT_NO_THROW(manager().addProduct(alpha, "0.0"));
    EXPECT_EQ(statusOf(alpha), Unknown);

    const std::vector<LogLine> log = finish();
    const auto reports =
        messagesStartingWith(log, " Could not get product information for ALPHA: ");
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].find("invalid response"), std::string::npos) << reports[0];
}

TEST_F(ManagerTest, QueriesAndLaunchesFollowTheSwitchesForAllProducts)
{
    const ProductKey beta{"BETA", "soft"};
    createManager();
    serveInstaller();
    publish(Release{});
    Release betaRelease;
    betaRelease.sku = "BETA";
    betaRelease.permalink = server->url("/files/Beta.exe");
    publish(betaRelease);

    manager().setQueryServer(false);
    manager().addProduct(alpha, "0.0");
    EXPECT_EQ(server->requestCount(), 0u);
    EXPECT_EQ(statusOf(alpha), Unknown);

    manager().setQueryServer(true);
    manager().refreshProduct(alpha);
    manager().addProduct(beta, "9.0");
    ASSERT_EQ(statusOf(alpha), UpdateNeeded);
    ASSERT_EQ(statusOf(beta), UpToDate);
    manager().launchAllDownloads();
    EXPECT_EQ(statusOf(alpha), DownloadInProgress);
    EXPECT_EQ(statusOf(beta), UpToDate);
    ASSERT_TRUE(tickUntil([&] { return statusOf(alpha) == InstallerAvailable; }));
    EXPECT_FALSE(fs::exists(downloads / "Beta.exe"));
}
