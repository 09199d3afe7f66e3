// The demo server as scripts/demo.sh and bench/whole_update.sh run it: its command line,
// the port file, the resources answer, a cut first transfer resumed with a range, and its
// stop on SIGINT.

#include "tests/support/FileContent.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/PlainHttpGet.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/TempFolder.h"
#include "tests/support/WaitUntil.h"

#include <Poco/Pipe.h>
#include <Poco/PipeStream.h>
#include <Poco/Process.h>
#include <boost/filesystem/operations.hpp>
#include <gtest/gtest.h>

#include <iterator>
#include <optional>
#include <string>
#include <vector>

using namespace Veltora::Testing;

namespace fs = boost::filesystem;

namespace
{
constexpr std::size_t installerSize = 65536;

// The demo server's answer to a GET of `path`.
PlainHttpAnswer get(std::uint16_t port, const std::string& path, const std::string& range = "")
{
    return plainHttpGet(port, path, range);
}

class DemoServer : public testing::Test
{
protected:
    DemoServer()
    {
        installer = std::string(installerSize, '\0');
        for (std::size_t index = 0; index < installer.size(); ++index)
            installer[index] = static_cast<char>(index * 7 % 251);
        fs::create_directories(folder / "releases" / "demo");
        writeFile(folder / "releases" / "demo" / "release.json",
                  R"({"name": "Demo", "version": "2.0.0", "installer": "setup"})");
        writeFile(folder / "releases" / "demo" / "setup", installer);
    }

    // The server on the releases folder, with these options too; nothing when it wrote no
    // port file in time.
    std::optional<std::uint16_t> start(const std::vector<std::string>& options)
    {
        std::vector<std::string> arguments{"--releases",  (folder / "releases").string(),
                                           "--port-file", (folder / "port").string(),
                                           "--lifetime",  "120"};
        arguments.insert(arguments.end(), options.begin(), options.end());
        server.emplace(Poco::Process::launch(DEMO_SERVER, arguments, nullptr, &output, nullptr));
        if (!waitUntil([&] { return !readFile(folder / "port").empty(); },
                       std::chrono::seconds(30)))
            return std::nullopt;
        return static_cast<std::uint16_t>(std::stoul(readFile(folder / "port")));
    }

    // Asks the server to stop with SIGINT; its exit status, and its output in `printed`.
    int stop(std::string& printed)
    {
        Poco::Process::requestTermination(server->id());
        const int status = server->wait();
        Poco::PipeInputStream stream(output);
        printed.assign(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
        server.reset();
        return status;
    }

    ~DemoServer() override
    {
        if (server)
        {
            Poco::Process::kill(*server);
            server->wait();
        }
    }

    TempFolder folder;
    std::string installer;
    Poco::Pipe output;
    std::optional<Poco::ProcessHandle> server;
};

TEST_F(DemoServer, ServesTheReleaseCutsTheFirstTransferAndStopsOnSigint)
{
    const std::optional<std::uint16_t> port = start({"--cut-transfers", "1"});
    ASSERT_TRUE(port);

    const PlainHttpAnswer resources = get(*port, "/api/resources/soft/demo/linux/latest");
    const PlainHttpAnswer cut = get(*port, "/files/demo/setup");
    const PlainHttpAnswer rest =
        get(*port, "/files/demo/setup", "bytes=" + std::to_string(cut.body.size()) + "-");
    const PlainHttpAnswer pastTheEnd = get(*port, "/files/demo/setup", "bytes=65536-");
    const PlainHttpAnswer unknown = get(*port, "/api/resources/soft/demo/linux/oldest");
    std::string printed;
    const int status = stop(printed);

    EXPECT_EQ(resources.status, 200);
    EXPECT_NE(resources.body.find("/files/demo/setup"), std::string::npos) << resources.body;
    EXPECT_NE(resources.body.find(std::to_string(installerSize)), std::string::npos)
        << resources.body;
    // Half of the file, rounded down to the updater's 8192-byte chunks.
    EXPECT_EQ(cut.status, 200);
    EXPECT_EQ(cut.body, installer.substr(0, installerSize / 2));
    EXPECT_EQ(rest.status, 206);
    EXPECT_EQ(rest.contentRange, "bytes 32768-65535/65536");
    EXPECT_EQ(cut.body + rest.body, installer);
    EXPECT_EQ(pastTheEnd.status, 416);
    EXPECT_EQ(pastTheEnd.contentRange, "bytes */65536");
    EXPECT_EQ(unknown.status, 404);

    EXPECT_EQ(status, 0);
    EXPECT_NE(printed.find("demo_server: serving " + (folder / "releases").string() +
                           " at http://127.0.0.1:" + std::to_string(*port) + "\n"),
              std::string::npos)
        << printed;
    EXPECT_NE(printed.find("cut after 32768 bytes"), std::string::npos) << printed;
    EXPECT_NE(printed.find("demo_server: stopped\n"), std::string::npos) << printed;
    EXPECT_FALSE(fs::exists(folder / "port.partial"));
}

struct RefusedStart
{
    std::string name;
    std::vector<std::string> arguments; // "RELEASES" stands for an empty releases folder
    int status;
};

void PrintTo(const RefusedStart& row, std::ostream* out)
{
    *out << row.name;
}

class DemoServerRefuses : public testing::TestWithParam<RefusedStart>
{
};

TEST_P(DemoServerRefuses, ToStartWithAMessage)
{
    TempFolder folder;
    fs::create_directories(folder / "releases");
    std::vector<std::string> arguments;
    for (const std::string& argument : GetParam().arguments)
        arguments.push_back(argument == "RELEASES" ? (folder / "releases").string() : argument);

    const ProgramRun run = runProgram(DEMO_SERVER, arguments, std::chrono::seconds(30));

    EXPECT_EQ(run.status, GetParam().status) << run.standardError;
    EXPECT_NE(run.standardError.find("demo_server"), std::string::npos) << run.standardError;
    EXPECT_EQ(run.standardOutput, "");
}

INSTANTIATE_TEST_SUITE_P(
    CommandLine, DemoServerRefuses,
    testing::Values(
        RefusedStart{"no_folder", {}, 2},
        RefusedStart{"both_folders", {"--releases", "RELEASES", "--site", "RELEASES"}, 2},
        RefusedStart{"unknown_option", {"--releases", "RELEASES", "--fast"}, 2},
        RefusedStart{"option_without_value", {"--releases"}, 2},
        RefusedStart{"port_too_high", {"--releases", "RELEASES", "--port", "65536"}, 2},
        RefusedStart{"rate_not_a_number", {"--releases", "RELEASES", "--rate", "fast"}, 2},
        RefusedStart{"missing_folder", {"--releases", "/nonexistent/releases"}, 2}),
    [](const testing::TestParamInfo<RefusedStart>& row) { return row.param.name; });

TEST(DemoServerPort, InUseEndsTheServerWithStatusOne)
{
    TempFolder folder;
    fs::create_directories(folder / "releases");
    HttpTestServer occupant;

    const ProgramRun run = runProgram(DEMO_SERVER,
                                      {"--releases", folder.path().string() + "/releases", "--port",
                                       std::to_string(occupant.port())},
                                      std::chrono::seconds(30));

    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.standardError.rfind("demo_server: ", 0), 0u) << run.standardError;
}

} // namespace
