#include "updater/cli/CommandLine.h"

#include "tests/support/CapturedStdout.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <boost/filesystem/fstream.hpp>
#include <sys/wait.h>

using namespace Veltora::Updater;
using Arguments = std::vector<std::string>;

namespace
{
struct ParseCase
{
    Arguments arguments;
    bool accepted;
    std::string sku;
    std::string server;
    Arguments relaunch;
};

class CommandLine : public ::testing::TestWithParam<ParseCase>
{
protected:
    void SetUp() override
    {
        relaunchArguments.clear();
        relaunchRequested = false;
    }
};

int runAndWait(const std::string& command)
{
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
} // namespace

TEST_P(CommandLine, ParsesAsStated)
{
    const ParseCase& testCase = GetParam();
    const auto options = parseCommandLine(testCase.arguments);
    ASSERT_EQ(options.has_value(), testCase.accepted);
    if (options)
    {
        EXPECT_EQ(options->sku, testCase.sku);
        EXPECT_EQ(options->server, testCase.server);
    }
    EXPECT_EQ(relaunchArguments, testCase.relaunch);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CommandLine,
    ::testing::Values(ParseCase{{"--product-sku", "ABC"}, true, "ABC", "", {}},
                      ParseCase{{"--product-sku"}, false, "", "", {}},
                      ParseCase{{"--product-sku", ""}, false, "", "", {}},
                      ParseCase{{}, false, "", "", {}},
                      ParseCase{{"--product-sku", "A", "--product-sku", "B"}, true, "B", "", {}},
                      ParseCase{{"--product-sku", "--server"}, true, "--server", "", {}},
                      ParseCase{{"--server", "--product-sku", "X"}, false, "", "", {}},
                      ParseCase{{"--product-sku", "X", "--server"}, true, "X", "", {}},
                      ParseCase{{"--server", "S", "--product-sku", "X"}, true, "X", "S", {}},
                      ParseCase{{"--product-sku", "X", "--server", "S"}, true, "X", "S", {}},
                      ParseCase{
                          {"--PRODUCT-SKU", "X", "stray", "--product-sku", "Y"}, true, "Y", "", {}},
                      ParseCase{{"--product-sku", "X", "--", "--server", "Y"},
                                true,
                                "X",
                                "",
                                {"\"--server\"", "\"Y\""}},
                      ParseCase{{"--product-sku", "X", "--", "C:\\Program Files\\P\\p.exe", "a"},
                                true,
                                "X",
                                "",
                                {"\"C:\\Program Files\\P\\p.exe\"", "\"a\""}},
                      ParseCase{{"--product-sku", "X", "--", "\"quoted\"", "", "\"half", "\""},
                                true,
                                "X",
                                "",
                                {"\"quoted\"", "\"\"", "\"half\"", "\""}}));

TEST(Usage, PrintsTheTwoLines)
{
    Veltora::Testing::CapturedStdout output;
    printUsage();
    EXPECT_EQ(output.text(),
              "Usage: updater --product-sku SKU [-- RELAUNCH_ARG [RELAUNCH_ARG ...]]\n"
              "Example: updater --product-sku myproduct -- \"/Application/Veltora/My "
              "Product.app\" myarg1 myarg2\n");
}

TEST(Relaunch, DoesNothingUnlessRequestedWithArguments)
{
    relaunchArguments.clear();
    relaunchRequested = false;
    parseCommandLine({"--product-sku", "X", "--", "/bin/false"});
    EXPECT_FALSE(relaunchProduct());
    relaunchArguments.clear();
    relaunchRequested = true;
    EXPECT_FALSE(relaunchProduct());
    relaunchRequested = false;
}

TEST(Relaunch, ReplacesTheProcessWithTheBareArguments)
{
    Veltora::Testing::TempFolder folder;
    const auto record = folder / "arguments.txt";
    const std::string probe = RELAUNCH_PROBE;
    const int status = runAndWait("'" + probe + "' relaunch '" + probe + "' record '" +
                                  record.string() + "' 'with space' ''");
    EXPECT_EQ(status, 0);
    boost::filesystem::ifstream in(record);
    std::vector<std::string> received;
    for (std::string line; std::getline(in, line);)
        received.push_back(line);
    EXPECT_EQ(received, (Arguments{probe, "record", record.string(), "with space", ""}));
}

TEST(Relaunch, EndsWithStatusOneWhenTheProductCannotStart)
{
    const std::string probe = RELAUNCH_PROBE;
    EXPECT_EQ(runAndWait("'" + probe + "' relaunch /nonexistent/product a"), 1);
}
