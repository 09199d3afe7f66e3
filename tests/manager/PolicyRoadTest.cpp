// The window's policy driving a real manager through each way a run can end: what the
// window is asked to show, whether it quits, relaunches or offers the buttons, and the
// cause the failure report names.

#include "tests/manager/ManagerHarness.h"

#include "platform/Platform.h"

#include <boost/algorithm/string/replace.hpp>

#include <functional>

using namespace Veltora::UpdateManager;
using namespace Veltora::Testing;

namespace
{
class PolicyRoad;

struct PolicyCase
{
    const char* name;
    // Creates the manager and sets up the server.
    std::function<void(PolicyRoad&)> arrange;
    bool starts; // whether the download can start at all
    // The text shown when the run has settled; nullptr: not looked at (after a completed
    // installation the discarded files make the product need the update again).
    const char* lastText;
    bool quits;
    bool relaunches;
    bool offersButtons;
    // What the failure report names ("{system}" stands for the running system's name);
    // nullptr: nothing.
    const char* cause;
};

void PrintTo(const PolicyCase& testCase, std::ostream* out)
{
    *out << testCase.name;
}

class PolicyRoad : public ManagerTest, public ::testing::WithParamInterface<PolicyCase>
{
public:
    using ManagerTest::configureInstaller;
    using ManagerTest::createManager;
    using ManagerTest::installerContent;
    using ManagerTest::publish;
    using ManagerTest::serveInstaller;
    using ManagerTest::server;

    // Every transfer of the installer ends after one chunk past where it started.
    void cutEveryTransfer()
    {
        server->on("/files/Setup.exe",
                   [this](const RecordedRequest& request)
                   {
                       HttpReply reply = HttpTestServer::contentReply(installerContent, request,
                                                                      RangeMode::Honour);
                       reply.ending = ReplyEnding::CloseAfterBytes;
                       reply.bytesBeforeEnding = 8192;
                       return reply;
                   });
    }
};
} // namespace

TEST_P(PolicyRoad, EndsAsTheWindowWould)
{
    const PolicyCase& road = GetParam();
    road.arrange(*this);
    Veltora::Updater::UpdatePolicy& window = reactLikeWindow(alpha);

    window.queryProduct();
    ASSERT_EQ(window.startDownload(), road.starts);
    if (road.starts)
    {
        ASSERT_TRUE(tickUntil([&] { return view.quitRequests > 0 || view.buttonsShown; }));
        ASSERT_FALSE(view.texts.empty());
        if (road.lastText != nullptr)
        {
            EXPECT_EQ(view.texts.back(), road.lastText);
        }
    }
    EXPECT_EQ(view.quitRequests > 0, road.quits);
    EXPECT_EQ(window.shouldRelaunch(), road.relaunches);
    EXPECT_EQ(window.hasCompletedUpdate(), road.relaunches);
    EXPECT_EQ(view.buttonsShown, road.offersButtons);
    const std::string cause = manager().failureReport().cause();
    if (road.cause == nullptr)
    {
        EXPECT_EQ(cause, "");
    }
    else
    {
        const std::string expected = boost::replace_first_copy(std::string(road.cause), "{system}",
                                                               Veltora::Platform::osName());
        EXPECT_NE(cause.find(expected), std::string::npos) << cause;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Roads, PolicyRoad,
    ::testing::Values(
        PolicyCase{"Installed",
                   [](PolicyRoad& road)
                   {
                       road.createManager();
                       road.publish(Release{});
                       road.serveInstaller();
                       road.configureInstaller(0);
                   },
                   true, nullptr, true, true, false, nullptr},
        // Five resumes, then the sixth cut ends the update.
        PolicyCase{"CutSixTimes",
                   [](PolicyRoad& road)
                   {
                       road.createManager();
                       road.publish(Release{});
                       road.cutEveryTransfer();
                   },
                   true, "Update failed.", true, false, false, "was cut off 6 times"},
        PolicyCase{"ChecksumMismatch",
                   [](PolicyRoad& road)
                   {
                       road.createManager();
                       Release release;
                       release.checksum = std::string(32, '0');
                       road.publish(release);
                       road.serveInstaller();
                   },
                   true, "Update failed.", true, false, false, "failed its check: MD5 "},
        // A failed installation stays on screen with the buttons; the run goes on.
        PolicyCase{"InstallerFails",
                   [](PolicyRoad& road)
                   {
                       road.createManager();
                       road.publish(Release{});
                       road.serveInstaller();
                       road.configureInstaller(3);
                   },
                   true, "Install failed.", false, false, true, "ended with status 3"},
        PolicyCase{"ServerUnreachable",
                   [](PolicyRoad& road) {
                       road.createManager({}, "127.0.0.1:" +
                                                  std::to_string(HttpTestServer::closedPort()));
                   },
                   false, nullptr, false, false, false, "cannot reach http://127.0.0.1:"},
        PolicyCase{"ProductUnknownToTheServer", [](PolicyRoad& road) { road.createManager(); },
                   false, nullptr, false, false, false,
                   "product \"ALPHA\" not found on 127.0.0.1:"},
        PolicyCase{"ReleaseForANewerSystem",
                   [](PolicyRoad& road)
                   {
                       road.createManager();
                       Release release;
                       release.platformMinVersion = "999.0";
                       road.publish(release);
                   },
                   false, nullptr, false, false, false,
                   "release 2.0.0.1 of \"ALPHA\" needs {system} 999.0 or later (this is "}),
    [](const ::testing::TestParamInfo<PolicyCase>& testCase) { return testCase.param.name; });
