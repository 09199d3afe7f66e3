#include "tools/loopback_server/LoopbackServerProgram.h"

#include "tests/support/CapturedStdout.h"
#include "tests/support/FileContent.h"
#include "tests/support/TempFolder.h"
#include "tests/support/WaitUntil.h"

#include <boost/filesystem/operations.hpp>
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

using Veltora::LoopbackServer::LoopbackServerProgram;
using namespace Veltora::Testing;

namespace
{
// What a program with an operand, a flag and a numeric option of its own read.
struct ReadCommandLine
{
    std::string folder;
    bool quiet = false;
    std::uint64_t rate = 0;
    std::uint16_t port = 0;
};

bool parse(const std::vector<std::string>& arguments, ReadCommandLine& read,
           bool takesOperand = true)
{
    LoopbackServerProgram program("test_server", "FOLDER [--quiet] [--rate N]");
    if (takesOperand)
        program.operand([&](const std::string& value) { read.folder = value; });
    program.flag("--quiet", [&] { read.quiet = true; });
    program.option("--rate", [&](const std::string& value)
                   { read.rate = LoopbackServerProgram::number(value); });
    std::vector<const char*> argv{"test_server"};
    for (const std::string& argument : arguments)
        argv.push_back(argument.c_str());
    const bool accepted = program.parse(static_cast<int>(argv.size()), argv.data());
    read.port = program.port();
    return accepted;
}

struct CommandLineCase
{
    std::string name;
    std::vector<std::string> arguments;
    bool accepted;
    std::uint16_t port = 0;
};

void PrintTo(const CommandLineCase& row, std::ostream* out)
{
    *out << row.name;
}

class CommandLine : public testing::TestWithParam<CommandLineCase>
{
};

TEST_P(CommandLine, IsAcceptedOrRefusedWhole)
{
    ReadCommandLine read;
    EXPECT_EQ(parse(GetParam().arguments, read), GetParam().accepted);
    if (GetParam().accepted)
    {
        EXPECT_EQ(read.port, GetParam().port);
    }
}

INSTANTIATE_TEST_SUITE_P(
    LoopbackServerProgram, CommandLine,
    testing::Values(
        CommandLineCase{"nothing", {}, true},
        CommandLineCase{"every_common_option",
                        {"www", "--port", "8080", "--port-file", "p", "--lifetime", "5"},
                        true,
                        8080},
        CommandLineCase{"highest_port", {"--port", "65535"}, true, 65535},
        CommandLineCase{"port_past_the_highest", {"--port", "65536"}, false},
        CommandLineCase{"negative_port", {"--port", "-1"}, false},
        CommandLineCase{"port_with_trailing_text", {"--port", "80x"}, false},
        CommandLineCase{"port_without_value", {"--port"}, false},
        CommandLineCase{"empty_lifetime", {"--lifetime", ""}, false},
        CommandLineCase{"own_number_with_trailing_text", {"--rate", "12abc"}, false},
        CommandLineCase{"unknown_option", {"--unknown"}, false},
        CommandLineCase{"second_operand", {"www", "other"}, false},
        CommandLineCase{
            "flag_given_a_value_that_becomes_a_second_operand", {"www", "--quiet", "yes"}, false}),
    [](const testing::TestParamInfo<CommandLineCase>& row) { return row.param.name; });

TEST(LoopbackServerProgram, HandsEachOwnArgumentToItsOption)
{
    ReadCommandLine read;
    ASSERT_TRUE(parse({"--rate", "4096", "www", "--quiet"}, read));
    EXPECT_EQ(read.folder, "www");
    EXPECT_TRUE(read.quiet);
    EXPECT_EQ(read.rate, 4096u);
}

TEST(LoopbackServerProgram, RefusesAnOperandWhenItTakesNone)
{
    ReadCommandLine read;
    EXPECT_FALSE(parse({"www"}, read, false));
}

// Runs waitForStopRequest on its own thread; false when it has not returned by the
// deadline (the program's lifetime then ends it, so the test does not hang).
bool waitReturns(const LoopbackServerProgram& program)
{
    std::atomic<bool> returned{false};
    std::thread waiter(
        [&]
        {
            program.waitForStopRequest();
            returned = true;
        });
    const bool inTime = waitUntil([&] { return returned.load(); }, std::chrono::seconds(30));
    waiter.join();
    return inTime;
}

std::unique_ptr<LoopbackServerProgram> programWith(const std::vector<const char*>& arguments)
{
    auto program = std::make_unique<LoopbackServerProgram>("test_server", "");
    std::vector<const char*> argv{"test_server"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    EXPECT_TRUE(program->parse(static_cast<int>(argv.size()), argv.data()));
    return program;
}

TEST(LoopbackServerProgram, AnnouncesTheAddressAndWritesThePortFileWhole)
{
    TempFolder folder;
    const std::string portFile = (folder / "port").string();
    const auto program = programWith({"--port-file", portFile.c_str(), "--lifetime", "60"});
    CapturedStdout output;
    program->announce("www", "http://127.0.0.1:4321", 4321);
    EXPECT_EQ(program->stopped(), 0);

    EXPECT_EQ(output.text(), "test_server: serving www at http://127.0.0.1:4321\n"
                             "test_server: stopped\n");
    EXPECT_EQ(readFile(portFile), "4321\n");
    EXPECT_FALSE(boost::filesystem::exists(portFile + ".partial"));
}

class StopSignal : public testing::TestWithParam<int>
{
};

TEST_P(StopSignal, EndsTheWaitAfterTheAnnouncement)
{
    const auto program = programWith({"--lifetime", "60"});
    CapturedStdout output;
    program->announce("www", "http://127.0.0.1:1", 1);
    std::raise(GetParam());
    EXPECT_TRUE(waitReturns(*program));
}

INSTANTIATE_TEST_SUITE_P(LoopbackServerProgram, StopSignal, testing::Values(SIGINT, SIGTERM),
                         [](const testing::TestParamInfo<int>& row)
                         { return row.param == SIGINT ? "SIGINT" : "SIGTERM"; });

TEST(LoopbackServerProgram, LifetimeEndsTheWaitWithoutASignal)
{
    const auto program = programWith({"--lifetime", "1"});
    CapturedStdout output;
    program->announce("www", "http://127.0.0.1:1", 1);
    EXPECT_TRUE(waitReturns(*program));
}

extern "C" void earlierHandler(int) {}

TEST(LoopbackServerProgram, GivesTheSignalsBackTheirEarlierHandling)
{
    const auto earlierInterrupt = std::signal(SIGINT, earlierHandler);
    const auto earlierTerminate = std::signal(SIGTERM, earlierHandler);
    {
        const auto program = programWith({});
        CapturedStdout output;
        program->announce("www", "http://127.0.0.1:1", 1);
    }
    EXPECT_EQ(std::signal(SIGINT, earlierInterrupt), &earlierHandler);
    EXPECT_EQ(std::signal(SIGTERM, earlierTerminate), &earlierHandler);
}

} // namespace
