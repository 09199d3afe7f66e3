#include "updater/cli/CommandLine.h"
#include "updater/cli/ExitStatus.h"

#include "platform/Platform.h"
#include "tests/support/CapturedStdout.h"
#include "tests/support/ChildProbeRecord.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TempFolder.h"
#include "tests/support/WaitUntil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <optional>

using namespace Veltora::Updater;
using Arguments = std::vector<std::string>;

namespace
{
void forgetRelaunch()
{
    relaunchArguments.clear();
    relaunchArgumentsAsGiven.clear();
    relaunchRequested = false;
}

struct ParseCase
{
    Arguments arguments;
    bool accepted;
    std::string sku;
    std::string server;
    Arguments relaunch; // as stored, quoted
};

void PrintTo(const ParseCase& testCase, std::ostream* out)
{
    *out << ::testing::PrintToString(testCase.arguments);
}

class CommandLine : public ::testing::TestWithParam<ParseCase>
{
protected:
    void SetUp() override { forgetRelaunch(); }
};

// Runs the relaunch probe with these arguments after "relaunch"; returns its exit code.
int runRelaunchProbe(const Arguments& relaunch)
{
    Arguments arguments = {RELAUNCH_PROBE, "relaunch"};
    arguments.insert(arguments.end(), relaunch.begin(), relaunch.end());
    return Veltora::Platform::spawnAndWait(arguments.front(), arguments);
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
    const auto dashDash = std::find(testCase.arguments.begin(), testCase.arguments.end(), "--");
    const Arguments given(dashDash == testCase.arguments.end() ? dashDash : dashDash + 1,
                          testCase.arguments.end());
    EXPECT_EQ(relaunchArgumentsAsGiven, given) << "kept exactly as given";
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
    forgetRelaunch();
    parseCommandLine({"--product-sku", "X", "--", "/bin/false"});
    EXPECT_FALSE(relaunchProduct());
    forgetRelaunch();
    relaunchRequested = true;
    EXPECT_FALSE(relaunchProduct());
    relaunchRequested = false;
}

// The product is started with the arguments exactly as they were given, quotes of their
// own included; the stored, quoted form is not what it receives.
TEST(Relaunch, ReplacesTheProcessWithTheArgumentsExactlyAsGiven)
{
    Veltora::Testing::TempFolder folder;
    Veltora::Testing::ScopedEnvironment environment;
    environment.set("CHILD_PROBE_RECORD_DIR", folder.path().string());
    const std::string product = CHILD_PROBE;
    const Arguments given = {product,
                             "\"quoted\"",
                             "ends\"",
                             "\"starts",
                             "\"",
                             "\"\"",
                             "",
                             "with space",
                             "--server",
                             "caf\xC3\xA9",
                             "C:\\Program Files\\",
                             "back\\\"slash",
                             "two\\\\\"",
                             "\\\\server\\share",
                             "tab\there"};

    EXPECT_EQ(runRelaunchProbe(given), 0);

    // Where the system cannot replace a process (Windows), the product is started beside it
    // and may still be running.
    std::optional<Veltora::Testing::ChildProbeRecord> record;
    ASSERT_TRUE(Veltora::Testing::waitUntil(
        [&]
        {
            record = Veltora::Testing::readChildProbeRecord(
                folder.path(), boost::filesystem::path(product).filename().string());
            return record.has_value();
        },
        std::chrono::seconds(30)));
    EXPECT_EQ(record->arguments, given);
    EXPECT_TRUE(record->startedClean()) << *record;
}

TEST(Relaunch, EndsWithStatusOneWhenTheProductCannotStart)
{
    EXPECT_EQ(runRelaunchProbe({"/nonexistent/product", "a"}), 1);
    // The quotes given around a path are part of it: such a file does not exist.
    EXPECT_EQ(runRelaunchProbe({"\"" + std::string(CHILD_PROBE) + "\""}), 1);
}

TEST(ExitStatus, IsZeroOnlyForACompletedUpdate)
{
    updateCompleted = false;
    EXPECT_EQ(exitStatusAfterRun(), ExitStatus::NotCompleted);
    updateCompleted = true;
    EXPECT_EQ(exitStatusAfterRun(), ExitStatus::Updated);
    updateCompleted = false;
    EXPECT_EQ(ExitStatus::Updated, 0);
    EXPECT_EQ(ExitStatus::CannotStartOrRelaunch, 1);
    EXPECT_EQ(ExitStatus::NotCompleted, 2);
}
