// The real updater binary on the networks its users are on: behind an HTTP proxy named by
// the environment (tinyproxy on loopback), and with a permalink that redirects to where
// the installer's bytes are. Each run's first transfer of the installer is cut halfway,
// so the resume goes the same way.
#include "tests/e2e/UpdaterRunFixture.h"

#include "tests/support/TinyProxy.h"

#include <gtest/gtest.h>

namespace fs = boost::filesystem;
using namespace Veltora::Testing;

namespace
{

bool forwardedByTinyproxy(const RecordedRequest& request)
{
    const auto via = request.header("Via");
    return via && via->find("tinyproxy") != std::string::npos;
}

TEST_F(UpdaterRun, UpdatesThroughTheProxyTheEnvironmentNames)
{
    TinyProxy proxy;
    transfersToCut = 1;
    publishRelease(installerScript(0));
    ChildProcess::Options options = updaterOptions();
    options.environment["http_proxy"] = proxy.url();
    options.environment["no_proxy"] = "";
    options.environment["NO_PROXY"] = "";

    auto updater = startUpdater(standardArguments(), options);
    const auto status = updater->waitFor(runTimeout);

    ASSERT_EQ(status, 0) << updater->output() << proxy.log();
    EXPECT_EQ(installerRuns().size(), 1u);
    for (const RecordedRequest& request : server.requests())
        EXPECT_TRUE(forwardedByTinyproxy(request)) << request.target;
    const auto transfers = installerRequests();
    ASSERT_EQ(transfers.size(), 2u) << "the cut transfer and its resume";
    EXPECT_EQ(transfers[0].header("Range"), std::nullopt);
    EXPECT_TRUE(transfers[1].header("Range").has_value());
    EXPECT_TRUE(proxy.logged("GET " + server.url(resourcesPath()))) << proxy.log();
}

TEST_F(UpdaterRun, UpdatesThroughARedirectingPermalinkUnderThePermalinksName)
{
    transfersToCut = 1;
    publishRelease(installerScript(0),
                   {{"permalink", "\"" + server.url("/releases/latest/" + installerName) + "\""}});
    const std::string mirrorPath = "/mirror/bucket/3f9a7c.bin";
    server.reply("/releases/latest/" + installerName,
                 [&]
                 {
                     HttpReply redirect = HttpReply::withStatus(302);
                     redirect.headers.emplace_back("Location", mirrorPath);
                     return redirect;
                 }());
    server.on(mirrorPath,
              [this](const RecordedRequest& request) { return installerReply(request); });
    const fs::path probe = relaunchProbe();
    std::vector<std::string> arguments = standardArguments();
    arguments.insert(arguments.end(), {"--", probe.string()});

    auto updater = startUpdater(arguments, "web=info");
    const auto status = updater->waitFor(runTimeout);

    ASSERT_EQ(status, 0) << updater->output();
    const auto runs = installerRuns();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0], (std::vector<std::string>{(downloads / installerName).string(), "/SILENT"}));
    std::vector<std::string> mirrorRanges;
    for (const RecordedRequest& request : server.requests())
        if (request.path() == mirrorPath)
            mirrorRanges.push_back(request.header("Range").value_or("none"));
    ASSERT_EQ(mirrorRanges.size(), 2u);
    EXPECT_EQ(mirrorRanges[0], "none");
    EXPECT_EQ(mirrorRanges[1].rfind("bytes=", 0), 0u) << "the resume keeps its Range";
    EXPECT_TRUE(contains(updater->output(), "Redirect (302) from " +
                                                server.url("/releases/latest/" + installerName) +
                                                " to " + server.url(mirrorPath)))
        << updater->output();
}

} // namespace
