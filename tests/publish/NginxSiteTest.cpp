#include "UpdateManager/web/ResourceList.h"

#include "tests/support/FileContent.h"
#include "tests/support/NginxSite.h"
#include "tests/support/PlainHttpGet.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <boost/filesystem/fstream.hpp>
#include <boost/filesystem/operations.hpp>
#include <boost/property_tree/json_parser.hpp>

#include <optional>
#include <sstream>

using namespace Veltora::Testing;
namespace fs = boost::filesystem;

namespace
{
const std::string tool = UPDATER_PUBLISH;
const fs::path documentedSite = DOCUMENTED_NGINX_SITE;

// The real nginx of the system, serving the documented server block on a loopback port,
// started in the background by nginx itself and stopped at the end of the test.
class NginxSiteTest : public testing::Test
{
protected:
    NginxSiteTest()
    {
        fs::create_directories(site);
        writeFile(installer, std::string(100000, 'i') + "end");
    }

    void startNginx() { ASSERT_NO_THROW(nginx.start()); }

    PlainHttpAnswer get(const std::string& path,
                        const std::optional<std::string>& range = std::nullopt,
                        bool withPassword = false) const
    {
        return plainHttpGet(
            nginx.port(), path, range.value_or(""),
            withPassword ? std::make_optional(std::make_pair(std::string(NginxSite::user),
                                                             std::string(NginxSite::password)))
                         : std::nullopt);
    }

    void publish()
    {
        const ProgramRun run = runProgram(
            tool, {"--sku", "ABC", "--platform", "linux", "--version", "2.0.0", "--name", "Synth",
                   "--base-url", nginx.url(), "--out", site.string(), installer.string()});
        ASSERT_EQ(run.status, 0) << run.standardError;
    }

    TempFolder folder;
    fs::path site = folder / "site";
    fs::path installer = folder / "Setup.exe";
    NginxSite nginx{documentedSite, site, folder / "nginx"};
};
} // namespace

TEST_F(NginxSiteTest, ServesLatestAsJsonToTheUpdatersPasswordOnly)
{
    ASSERT_NO_FATAL_FAILURE(startNginx());
    ASSERT_NO_FATAL_FAILURE(publish());
    const std::string path = "/api/resources/soft/ABC/linux/latest";

    EXPECT_EQ(get(path).status, 401);
    const PlainHttpAnswer reply = get(path, std::nullopt, true);
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.contentType, "application/json");
    EXPECT_EQ(reply.body, readFile(site / "api/resources/soft/ABC/linux/latest"));
    std::istringstream json(reply.body);
    boost::property_tree::ptree answer;
    boost::property_tree::read_json(json, answer);
    EXPECT_TRUE(Veltora::UpdateManager::ResourceList(answer).isValid());
}

TEST_F(NginxSiteTest, ServesInstallersWithByteRanges)
{
    ASSERT_NO_FATAL_FAILURE(startNginx());
    ASSERT_NO_FATAL_FAILURE(publish());
    const std::string path = "/files/ABC/2.0.0/Setup.exe";

    const PlainHttpAnswer whole = get(path);
    EXPECT_EQ(whole.status, 200);
    EXPECT_EQ(whole.body, readFile(installer));

    const PlainHttpAnswer rest = get(path, std::string("bytes=99990-"));
    EXPECT_EQ(rest.status, 206);
    EXPECT_EQ(rest.contentRange, "bytes 99990-100002/100003");
    EXPECT_EQ(rest.body, readFile(installer).substr(99990));
}

TEST_F(NginxSiteTest, HidesFilesThatAreStillBeingWritten)
{
    ASSERT_NO_FATAL_FAILURE(startNginx());
    ASSERT_NO_FATAL_FAILURE(publish());
    writeFile(site / "files/ABC/2.0.0/.Setup.exe.partial-12345678", "partial");
    writeFile(site / "api/resources/soft/ABC/linux/.latest.partial-12345678", "{");
    EXPECT_EQ(get("/files/ABC/2.0.0/.Setup.exe.partial-12345678").status, 404);
    EXPECT_EQ(
        get("/api/resources/soft/ABC/linux/.latest.partial-12345678", std::nullopt, true).status,
        404);
}
