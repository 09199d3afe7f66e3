#include "UpdateManager/install/Installer.h"

#include "tests/support/FileContent.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <boost/filesystem/operations.hpp>
#include <boost/property_tree/json_parser.hpp>

#include <optional>

using namespace Veltora::UpdateManager;
using Veltora::Testing::readFile;
using Veltora::Testing::writeFile;
namespace fs = boost::filesystem;

namespace
{
constexpr std::int64_t missing = -1;

std::string confirmWithSize(const std::string& size)
{
    return "{\n    \"size\": \"" + size + "\",\n    \"checksum\": \"0123\"\n}\n";
}

// What lies on disk and which versions are compared, and what the refresh must decide.
struct StatusCase
{
    const char* name;
    std::string localVersion;
    std::string latestVersion;
    std::int64_t installerSize; // `missing`, or the size of a (sparse) installer file
    std::optional<std::string> confirmText;
    UpdateStatus statusBefore;
    UpdateStatus expectedStatus;
    std::int64_t expectedDownloadedBytes;
    bool confirmKept;
};

void PrintTo(const StatusCase& testCase, std::ostream* out)
{
    *out << testCase.name;
}

class InstallerStatus : public ::testing::TestWithParam<StatusCase>
{
protected:
    Veltora::Testing::TempFolder folder;
    fs::path installerPath = folder / "Setup.exe";
    fs::path confirmPath = folder / "Setup.exe.confirm";
};

TEST_P(InstallerStatus, FollowsVersionsAndFiles)
{
    const StatusCase& testCase = GetParam();
    if (testCase.installerSize != missing)
    {
        writeFile(installerPath, "");
        fs::resize_file(installerPath, static_cast<std::uintmax_t>(testCase.installerSize));
    }
    if (testCase.confirmText)
        writeFile(confirmPath, *testCase.confirmText);

    Installer installer;
    installer.setSource("http://host/Setup.exe", installerPath);
    installer.setStatus(testCase.statusBefore);
    ProductDescription description;
    description.localVersion = testCase.localVersion;
    installer.refreshStatus(description, testCase.latestVersion);

    EXPECT_EQ(installer.getStatus(), testCase.expectedStatus);
    EXPECT_EQ(installer.downloadedBytes(), testCase.expectedDownloadedBytes);
    if (testCase.confirmText)
    {
        EXPECT_EQ(fs::exists(confirmPath), testCase.confirmKept);
    }
}

const std::string goodConfirm = confirmWithSize("1000");

INSTANTIATE_TEST_SUITE_P(
    Table, InstallerStatus,
    ::testing::Values(
        StatusCase{"LatestNotAVersion", "1.0", "1.2a", 1000, goodConfirm, Error, Unknown, 0, true},
        StatusCase{"SameVersion", "2.0.1", "2.0.1", 1000, std::nullopt, Error, UpToDate, 0, false},
        StatusCase{"NewerInstalled", "2.1", "2.0.9", missing, std::nullopt, Error, UpToDate, 0,
                   false},
        StatusCase{"NoInstallerFile", "not_installed", "1.0", missing, goodConfirm, Error,
                   UpdateNeeded, 0, true},
        StatusCase{"PartialFile", "1.0", "1.1", 1000, std::nullopt, Error, DownloadPaused, 1000,
                   false},
        StatusCase{"ConfirmedFile", "1.0", "1.1", 1000, goodConfirm, Error, InstallerAvailable, 0,
                   true},
        StatusCase{"WrongChecksumIsNotRead", "1.0", "1.1", 1000,
                   std::string(R"({"size":"1000","checksum":"bad"})"), Error, InstallerAvailable, 0,
                   true},
        StatusCase{"SizeOneByteShort", "1.0", "1.1", 1000, confirmWithSize("999"), Error,
                   DownloadPaused, 1000, false},
        StatusCase{"EmptyFileConfirmedEmpty", "1.0", "1.1", 0, confirmWithSize("0"), Error,
                   DownloadPaused, 0, false},
        StatusCase{"SizeNotANumber", "1.0", "1.1", 1000, confirmWithSize("1000 bytes"), Error,
                   DownloadPaused, 1000, false},
        StatusCase{"SizeMissing", "1.0", "1.1", 1000, std::string(R"({"checksum":"0123"})"), Error,
                   DownloadPaused, 1000, false},
        StatusCase{"ConfirmNotJson", "1.0", "1.1", 1000, std::string("size=1000"), Error,
                   DownloadPaused, 1000, false},
        StatusCase{"BeyondThirtyOneBits", "1.0", "1.1", 3000000000, confirmWithSize("3000000000"),
                   Error, InstallerAvailable, 0, true},
        StatusCase{"BeyondThirtyTwoBits", "1.0", "1.1", 5000000000, confirmWithSize("5000000000"),
                   Error, InstallerAvailable, 0, true},
        StatusCase{"SizeCutToThirtyTwoBits", "1.0", "1.1", 5000000000, confirmWithSize("705032704"),
                   Error, DownloadPaused, 5000000000, false},
        StatusCase{"RunningDownloadUntouched", "1.0", "1.1", 1000, std::nullopt, DownloadInProgress,
                   DownloadInProgress, 0, false}),
    [](const ::testing::TestParamInfo<StatusCase>& caseInfo) { return caseInfo.param.name; });

class ConfirmFile : public ::testing::Test
{
protected:
    Installer installerFor(const fs::path& file)
    {
        Installer installer;
        installer.setSource("http://host/" + file.filename().string(), file);
        return installer;
    }

    Veltora::Testing::TempFolder folder;
};

TEST_F(ConfirmFile, RecordsSizeThenChecksumIndentedAndIsAcceptedByTheRefresh)
{
    const fs::path file = folder / "Setup.exe";
    writeFile(file, std::string(5000, 'x'));
    Installer installer = installerFor(file);
    installer.writeConfirmFile("0123456789abcdef0123456789abcdef");

    EXPECT_EQ(installer.confirmFilePath(), folder / "Setup.exe.confirm");
    EXPECT_EQ(readFile(installer.confirmFilePath()),
              "{\n    \"size\": \"5000\",\n    \"checksum\": "
              "\"0123456789abcdef0123456789abcdef\"\n}\n");

    ProductDescription description;
    description.localVersion = "1.0";
    installer.refreshStatus(description, "2.0");
    EXPECT_EQ(installer.getStatus(), InstallerAvailable);
}

TEST_F(ConfirmFile, RecordsTheSha256OfAVerifiedDownload)
{
    const fs::path file = folder / "Setup.exe";
    writeFile(file, "abc");
    Installer installer = installerFor(file);
    installer.writeConfirmFile("sum", "sha");
    EXPECT_EQ(readFile(installer.confirmFilePath()),
              "{\n    \"size\": \"3\",\n    \"checksum\": \"sum\",\n    \"sha256\": \"sha\"\n}\n");
}

TEST_F(ConfirmFile, ComputesBothDigestsWhenNoChecksumIsGiven)
{
    const fs::path file = folder / "Setup.exe";
    writeFile(file, "abc");
    Installer installer = installerFor(file);
    installer.writeConfirmFile("");

    boost::property_tree::ptree tree;
    boost::property_tree::read_json(installer.confirmFilePath().string(), tree);
    EXPECT_EQ(tree.get<std::string>("size"), "3");
    EXPECT_EQ(tree.get<std::string>("checksum"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(tree.get<std::string>("sha256"),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST_F(ConfirmFile, ReplacesAnOlderConfirmFile)
{
    const fs::path file = folder / "Setup.exe";
    writeFile(file, "abcd");
    writeFile(folder / "Setup.exe.confirm", std::string(4000, ' ') + "stale");
    Installer installer = installerFor(file);
    installer.writeConfirmFile("sum");
    EXPECT_EQ(readFile(installer.confirmFilePath()),
              "{\n    \"size\": \"4\",\n    \"checksum\": \"sum\"\n}\n");
}

TEST_F(ConfirmFile, ThatCannotBeWrittenRaisesToTheCaller)
{
    Installer installer = installerFor(folder / "no such folder" / "Setup.exe");
    EXPECT_THROW(installer.writeConfirmFile("sum"), boost::property_tree::json_parser_error);
}

TEST(InstallerRefresh, ReportsWhatItDeletesAndWhatItCannotRead)
{
    Veltora::Testing::TempFolder folder;
    const fs::path file = folder / "Setup.exe";
    writeFile(file, "1234");
    writeFile(folder / "Setup.exe.confirm", "not json");
    Veltora::Testing::LogCapture log({"update_manager"});

    Installer installer;
    ProductDescription description;
    description.localVersion = "1.0";
    installer.init("http://host/Setup.exe", file, Error, description, "1.1");

    EXPECT_TRUE(installer.isInitialised());
    EXPECT_EQ(installer.getStatus(), DownloadPaused);
    EXPECT_EQ(installer.downloadedBytes(), 4);
    const std::string text = log.text();
    EXPECT_NE(text.find("Error reading confirm file " + file.string() + ".confirm("),
              std::string::npos)
        << text;
}

// A folder in the installer's place cannot be measured as a partial download: the error
// reaches the caller, and the status is not taken for a resumable download.
TEST(InstallerRefresh, FolderInPlaceOfTheInstallerRaisesToTheCaller)
{
    Veltora::Testing::TempFolder folder;
    const fs::path file = folder / "Setup.exe";
    fs::create_directory(file);

    Installer installer;
    installer.setSource("http://host/Setup.exe", file);
    ProductDescription description;
    description.localVersion = "1.0";
    EXPECT_THROW(installer.refreshStatus(description, "1.1"), fs::filesystem_error);
    EXPECT_NE(installer.getStatus(), DownloadPaused);
    EXPECT_EQ(installer.downloadedBytes(), 0);
    EXPECT_TRUE(fs::is_directory(file));
}

TEST(InstallerCopy, CopiesEveryMember)
{
    Installer original;
    ProductDescription description;
    description.localVersion = "1.0";
    original.init("http://host/a.exe", "/nowhere/a.exe", Error, description, "1.1");
    original.setStatus(InstallerStart);
    Installer copy(original);
    Installer assigned;
    assigned = original;
    for (const Installer* installer : {&copy, &assigned})
    {
        EXPECT_TRUE(installer->isInitialised());
        EXPECT_EQ(installer->url(), "http://host/a.exe");
        EXPECT_EQ(installer->installerPath(), fs::path("/nowhere/a.exe"));
        EXPECT_EQ(installer->getStatus(), InstallerStart);
        EXPECT_EQ(installer->progress(), -1.0);
    }
}

} // namespace
