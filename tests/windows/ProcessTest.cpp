#include "platform/Platform.h"
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
// The stored, quoted form of an argument, as the command line and the installer keep it.
std::string storedForm(const std::string& text)
{
    return "\"" + text + "\"";
}

// Runs the probe with VELTORA_PROBE_RECORD set to a fresh record file; the probe (or the
// program it relaunches) writes the arguments it received there.
class ChildProcess : public testing::Test
{
protected:
    ChildProcess() { _wputenv_s(L"VELTORA_PROBE_RECORD", record.wstring().c_str()); }
    ~ChildProcess() override { _wputenv_s(L"VELTORA_PROBE_RECORD", L""); }

    std::optional<std::vector<std::string>> recordedArguments() const
    {
        std::ifstream in(record, std::ios::binary);
        if (!in)
            return std::nullopt;
        std::vector<std::string> arguments;
        std::size_t length = 0;
        while (in >> length)
        {
            in.get();
            std::string text(length, '\0');
            in.read(text.data(), static_cast<std::streamsize>(length));
            in.get();
            arguments.push_back(text);
        }
        return arguments;
    }

    // The record appears complete, but opening it fails for as long as the renaming process
    // still holds the file (for deletion): it is read again until it opens.
    std::vector<std::string> waitForRecord() const
    {
        std::optional<std::vector<std::string>> arguments;
        EXPECT_TRUE(waitUntil(
            [&]
            {
                arguments = recordedArguments();
                return arguments.has_value();
            }));
        return arguments.value_or(std::vector<std::string>{});
    }

    WindowsTempFolder folder;
    std::filesystem::path record = folder / L"arguments.txt";
    std::string probe = ansiPath(programFolder() / L"windows_probe.exe");
};

// Texts that the C run time's command line must carry through unchanged. (A text that
// starts or ends with a double quote is not among them: the stored form cannot tell such a
// quote from its own, see the last relaunch test.)
const std::vector<std::string> awkwardArguments = {
    "plain",
    "two words",
    "  blanks around  ",
    "",
    "C:\\Program Files\\Product\\",
    "C:\\Folder\\\\",
    "say \"hi\" twice",
    "back\\\"slash quote",
    "tab\there",
    "/SILENT",
};
} // namespace

TEST_F(ChildProcess, ReturnsTheChildsExitCode)
{
    for (const int code : {0, 1, 3, 255, 1000})
    {
        SCOPED_TRACE(code);
        EXPECT_EQ(spawnAndWait(probe, {storedForm(probe), "exit", std::to_string(code)}), code);
    }
}

TEST_F(ChildProcess, AProgramThatCannotStartGivesMinusOne)
{
    EXPECT_EQ(spawnAndWait(ansiPath(folder / L"missing.exe"), {storedForm("missing.exe")}), -1);
    EXPECT_EQ(spawnAndWait("", {storedForm("")}), -1);
    EXPECT_FALSE(std::filesystem::exists(record));
}

TEST_F(ChildProcess, InstallerInAFolderWithSpacesGetsItsPathAndSilent)
{
    const std::filesystem::path installer = folder / L"Folder With Spaces" / L"My Installer.exe";
    std::filesystem::create_directories(installer.parent_path());
    std::filesystem::copy_file(programFolder() / L"windows_probe.exe", installer);
    const std::string path = ansiPath(installer);

    EXPECT_EQ(spawnAndWait(path, {storedForm(path), "/SILENT"}), 0);
    EXPECT_EQ(waitForRecord(), (std::vector<std::string>{path, "/SILENT"}));

    std::filesystem::remove(record);
    EXPECT_EQ(spawnAndWait(path, {storedForm(path)}), 0);
    EXPECT_EQ(waitForRecord(), std::vector<std::string>{path});
}

TEST_F(ChildProcess, SpawnedChildReceivesTheArgumentsExactly)
{
    std::vector<std::string> stored = {storedForm(probe), "exit", "7"};
    std::vector<std::string> expected = {probe, "exit", "7"};
    for (const std::string& argument : awkwardArguments)
    {
        stored.push_back(storedForm(argument));
        expected.push_back(argument);
    }
    EXPECT_EQ(spawnAndWait(probe, stored), 7);
    EXPECT_EQ(waitForRecord(), expected);
}

// The relaunching probe ends as soon as the replacement has started (status 0), so the
// record of the replacement is awaited with a deadline.
TEST_F(ChildProcess, RelaunchedChildReceivesTheArgumentsExactly)
{
    std::vector<std::string> relauncher = {storedForm(probe), "relaunch", storedForm(probe),
                                           storedForm(probe), "exit",     "0"};
    std::vector<std::string> expected = {probe, "exit", "0"};
    for (const std::string& argument : awkwardArguments)
    {
        relauncher.push_back(storedForm(argument));
        expected.push_back(argument);
    }
    EXPECT_EQ(spawnAndWait(probe, relauncher), 0);
    EXPECT_EQ(waitForRecord(), expected);
}

// An argument given with its own quotes is stored unchanged and loses them, as the stored
// form says; the texts inside stay intact.
TEST_F(ChildProcess, RelaunchArgumentThatCameQuotedLosesOnlyItsOuterQuotes)
{
    const std::string alreadyQuoted = "\"C:\\Apps\\My Product\\product.exe\"";
    EXPECT_EQ(spawnAndWait(probe, {storedForm(probe), "relaunch", storedForm(probe),
                                   storedForm(probe), "exit", "0", storedForm(alreadyQuoted)}),
              0);
    EXPECT_EQ(waitForRecord(),
              (std::vector<std::string>{probe, "exit", "0", "C:\\Apps\\My Product\\product.exe"}));
}

TEST_F(ChildProcess, FailedRelaunchReturnsToTheCaller)
{
    const std::string missing = ansiPath(folder / L"no such product.exe");
    EXPECT_EQ(spawnAndWait(
                  probe, {storedForm(probe), "relaunch", storedForm(missing), storedForm(missing)}),
              1);
    EXPECT_FALSE(std::filesystem::exists(record));
}
