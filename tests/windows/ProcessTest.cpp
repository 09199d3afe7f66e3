#include "platform/Platform.h"
#include "tests/support/WaitUntil.h"
#include "tests/windows/WineTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>

using Veltora::Platform::replaceProcess;
using Veltora::Platform::spawnAndWait;
using Veltora::Testing::ansiPath;
using Veltora::Testing::programFolder;
using Veltora::Testing::waitUntil;
using Veltora::Testing::WindowsTempFolder;

namespace
{
// How the probe was started: the command line its C run time split, and the result.
struct ProbeStart
{
    std::string commandLine;
    std::vector<std::string> arguments;
};

// Runs the probe with VELTORA_PROBE_RECORD set to a fresh record file; the probe (or the
// program it relaunches) writes how it was started there.
class ChildProcess : public testing::Test
{
protected:
    ChildProcess() { _wputenv_s(L"VELTORA_PROBE_RECORD", record.wstring().c_str()); }
    ~ChildProcess() override { _wputenv_s(L"VELTORA_PROBE_RECORD", L""); }

    std::optional<ProbeStart> recordedStart() const
    {
        std::ifstream in(record, std::ios::binary);
        if (!in)
            return std::nullopt;
        std::vector<std::string> entries;
        std::size_t length = 0;
        while (in >> length)
        {
            in.get();
            std::string text(length, '\0');
            in.read(text.data(), static_cast<std::streamsize>(length));
            in.get();
            entries.push_back(text);
        }
        if (entries.empty())
            return std::nullopt;
        return ProbeStart{entries.front(), {entries.begin() + 1, entries.end()}};
    }

    // The record appears complete, but opening it fails for as long as the renaming process
    // still holds the file (for deletion): it is read again until it opens.
    ProbeStart waitForRecord() const
    {
        std::optional<ProbeStart> start;
        EXPECT_TRUE(waitUntil(
            [&]
            {
                start = recordedStart();
                return start.has_value();
            },
            std::chrono::seconds(60)));
        return start.value_or(ProbeStart{});
    }

    WindowsTempFolder folder;
    std::filesystem::path record = folder / L"arguments.txt";
    std::string probe = ansiPath(programFolder() / L"windows_probe.exe");
};

// Texts that the C run time's command line must carry through unchanged: blanks, tabs,
// double quotes anywhere (also ones that look like the quoting of the text itself),
// backslashes before quotes and at the end, and empty texts.
const std::vector<std::string> awkwardArguments = {
    "plain",
    "two words",
    "  blanks around  ",
    "",
    "\"quoted\"",
    "ends\"",
    "\"starts",
    "\"",
    "\"\"",
    "C:\\Program Files\\Product\\",
    "C:\\Folder\\\\",
    "say \"hi\" twice",
    "back\\\"slash quote",
    "back\\\\\"",
    "trailing\\",
    "no\\blanks\\\\here",
    "tab\there",
    "\"C:\\Apps\\My Product\\product.exe\"",
    "/SILENT",
};

std::vector<std::string> withAwkwardArguments(std::vector<std::string> arguments)
{
    arguments.insert(arguments.end(), awkwardArguments.begin(), awkwardArguments.end());
    return arguments;
}
} // namespace

TEST_F(ChildProcess, ReturnsTheChildsExitCode)
{
    for (const int code : {0, 1, 3, 255, 1000})
    {
        SCOPED_TRACE(code);
        EXPECT_EQ(spawnAndWait(probe, {probe, "exit", std::to_string(code)}), code);
    }
}

TEST_F(ChildProcess, AProgramThatCannotStartGivesMinusOne)
{
    EXPECT_EQ(spawnAndWait(ansiPath(folder / L"missing.exe"), {"missing.exe"}), -1);
    EXPECT_EQ(spawnAndWait("", {""}), -1);
    EXPECT_FALSE(std::filesystem::exists(record));
}

// The installer's command line is its path in double quotes, then /SILENT as it is.
TEST_F(ChildProcess, InstallerInAFolderWithSpacesGetsItsQuotedPathAndSilent)
{
    const std::filesystem::path installer = folder / L"Folder With Spaces" / L"My Installer.exe";
    std::filesystem::create_directories(installer.parent_path());
    std::filesystem::copy_file(programFolder() / L"windows_probe.exe", installer);
    const std::string path = ansiPath(installer);

    EXPECT_EQ(spawnAndWait(path, {path, "/SILENT"}), 0);
    ProbeStart start = waitForRecord();
    EXPECT_EQ(start.commandLine, "\"" + path + "\" /SILENT");
    EXPECT_EQ(start.arguments, (std::vector<std::string>{path, "/SILENT"}));

    std::filesystem::remove(record);
    EXPECT_EQ(spawnAndWait(path, {path}), 0);
    start = waitForRecord();
    EXPECT_EQ(start.commandLine, "\"" + path + "\"");
    EXPECT_EQ(start.arguments, std::vector<std::string>{path});
}

TEST_F(ChildProcess, SpawnedChildReceivesTheArgumentsExactly)
{
    const std::vector<std::string> arguments = withAwkwardArguments({probe, "exit", "7"});
    EXPECT_EQ(spawnAndWait(probe, arguments), 7);
    EXPECT_EQ(waitForRecord().arguments, arguments);
}

// The relaunching probe ends as soon as the replacement has started (status 0), so the
// record of the replacement is awaited with a deadline.
TEST_F(ChildProcess, RelaunchedChildReceivesTheArgumentsExactly)
{
    const std::vector<std::string> relaunched = withAwkwardArguments({probe, "exit", "0"});
    std::vector<std::string> relauncher = {probe, "relaunch", probe};
    relauncher.insert(relauncher.end(), relaunched.begin(), relaunched.end());

    EXPECT_EQ(spawnAndWait(probe, relauncher), 0);
    EXPECT_EQ(waitForRecord().arguments, relaunched);
}

// The C run time reads the program name up to the next double quote: it is always quoted,
// and quotes of its own (no file name has any) are left out.
TEST_F(ChildProcess, ProgramNameGivenWithQuotesIsQuotedOnce)
{
    const std::filesystem::path copy = folder / L"Trailing" / L"probe.exe";
    std::filesystem::create_directories(copy.parent_path());
    std::filesystem::copy_file(programFolder() / L"windows_probe.exe", copy);
    const std::string path = ansiPath(copy);

    EXPECT_EQ(spawnAndWait(path, {"\"" + path + "\"", "a b"}), 0);
    const ProbeStart start = waitForRecord();
    EXPECT_EQ(start.commandLine, "\"" + path + "\" \"a b\"");
    EXPECT_EQ(start.arguments, (std::vector<std::string>{path, "a b"}));
}

TEST_F(ChildProcess, FailedRelaunchReturnsToTheCaller)
{
    const std::string missing = ansiPath(folder / L"no such product.exe");
    EXPECT_EQ(spawnAndWait(probe, {probe, "relaunch", missing, missing}), 1);
    EXPECT_FALSE(std::filesystem::exists(record));
}
