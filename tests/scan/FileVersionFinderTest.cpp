#include "UpdateManager/scan/FileVersionFinder.h"
#include "UpdateManager/scan/KnownFolders.h"
#include "tests/support/CapturedStdout.h"
#include "tests/support/LogCapture.h"
#include "tests/support/PeFileBuilder.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestSystem.h"

#include <gtest/gtest.h>

#include <boost/filesystem/fstream.hpp>

#include <optional>

using namespace Veltora::UpdateManager;
using namespace Veltora::Testing;

namespace
{
class FileVersionFinding : public testing::Test
{
protected:
    FileVersionFinding()
    {
        environment.set("HOME", home());
        boost::filesystem::create_directories(home());
    }

    std::string home() const { return (folder / "home").string(); }

    boost::filesystem::path versionedFile(const std::string& name, PeFileBuilder::Version version)
    {
        const boost::filesystem::path file = folder / name;
        PeFileBuilder::writeFile(file, PeFileBuilder().fileVersion(version).build());
        return file;
    }

    boost::filesystem::path unversionedFile(const std::string& name)
    {
        const boost::filesystem::path file = folder / name;
        PeFileBuilder::writeFile(file, PeFileBuilder().withoutVersionResource().build());
        return file;
    }

    TempFolder folder;
    ScopedEnvironment environment;
};

using Veltora::Platform::KnownFolder;

struct PlaceholderCase
{
    const char* text;
    std::optional<KnownFolder> folder; // whose path replaces the placeholder; none = unchanged
    const char* rest;
};

std::string platformFolder(KnownFolder folder)
{
    std::string path;
    EXPECT_TRUE(Veltora::Platform::knownFolderPath(folder, path));
    return path;
}

const char* const fixedUserFolders = "this system's user folders do not follow the environment";
} // namespace

TEST_F(FileVersionFinding, ExpandsOnlyAKnownPlaceholderAtTheStart)
{
    const PlaceholderCase cases[] = {
        {"<pf86>/Vendor/Product.exe", KnownFolder::ProgramFilesX86, "/Vendor/Product.exe"},
        {"<pf64>/Vendor/Product.exe", KnownFolder::ProgramFilesX64, "/Vendor/Product.exe"},
        {"<data>/Vendor/settings.dll", KnownFolder::ProgramData, "/Vendor/settings.dll"},
        {"<user>/Product/Product.exe", KnownFolder::Profile, "/Product/Product.exe"},
        {"<user><user>/x", KnownFolder::Profile, "<user>/x"},
        {"<pf86>", KnownFolder::ProgramFilesX86, ""},
        {"<PF86>/Vendor/Product.exe", std::nullopt, nullptr},
        {"<program>/Vendor/Product.exe", std::nullopt, nullptr},
        {"<pf86/Vendor/Product.exe", std::nullopt, nullptr},
        {"/apps/<data>/Product.exe", std::nullopt, nullptr},
        {" <data>/Product.exe", std::nullopt, nullptr},
        {"<>", std::nullopt, nullptr},
        {"<", std::nullopt, nullptr},
        {"", std::nullopt, nullptr},
    };
    for (const PlaceholderCase& test : cases)
    {
        SCOPED_TRACE(test.text);
        const std::string expected =
            test.folder ? platformFolder(*test.folder) + test.rest : test.text;
        EXPECT_EQ(expandPathPlaceholder(test.text), expected);
    }
}

TEST_F(FileVersionFinding, UnresolvedFolderKeepsThePlaceholder)
{
    if (!userSettingsFollowTheEnvironment())
        GTEST_SKIP() << fixedUserFolders;
    environment.set("HOME", std::nullopt);
    EXPECT_EQ(expandPathPlaceholder("<user>/Product.exe"), "<user>/Product.exe");
    std::string path = "untouched";
    EXPECT_FALSE(getKnownFolderPath(KnownFolder::Profile, path));
    EXPECT_EQ(path, "untouched");
    EXPECT_FALSE(FileVersionFinder("<user>/Product.exe").filePath().has_root_directory());
}

TEST_F(FileVersionFinding, KnownFolderForTheManagersDownloads)
{
    std::string path;
    ASSERT_TRUE(getKnownFolderPath(KnownFolder::Downloads, path));
    EXPECT_EQ(path, platformFolder(KnownFolder::Downloads));
}

TEST_F(FileVersionFinding, VersionTextKeepsLowEightBitsOfTheFirstTwoNumbers)
{
    const struct
    {
        PeFileBuilder::Version fixed;
        const char* text;
    } cases[] = {
        {{1, 2, 3, 4}, "1.2.3.4"},
        {{300, 2, 7, 65535}, "44.2.7.65535"},
        {{256, 511, 0, 0}, "0.255.0.0"},
        {{0, 0, 0, 0}, "0.0.0.0"},
        {{10, 20, 300, 4000}, "10.20.300.4000"},
    };
    for (const auto& test : cases)
    {
        std::string version = "untouched";
        ASSERT_TRUE(readFileVersion(versionedFile("Product.exe", test.fixed).string(), version));
        EXPECT_EQ(version, test.text);
    }
    std::string version = "untouched";
    EXPECT_FALSE(readFileVersion(unversionedFile("Plain.exe").string(), version));
    EXPECT_FALSE(readFileVersion((folder / "missing.exe").string(), version));
    EXPECT_EQ(version, "untouched");
}

TEST_F(FileVersionFinding, FindReportsFoundAndVersionSeparately)
{
    const std::string versioned = versionedFile("Product.exe", {300, 2, 7, 65535}).string();
    const std::string unversioned = unversionedFile("Plain.exe").string();
    LogCapture log({"update_manager", "external", "timing"});

    std::string version = "before";
    bool found = true;
    EXPECT_FALSE(FileVersionFinder((folder / "missing.exe").string()).find(version, found));
    EXPECT_FALSE(found);
    EXPECT_EQ(version, "before");

    found = false;
    EXPECT_FALSE(FileVersionFinder(unversioned).find(version, found));
    EXPECT_TRUE(found);
    EXPECT_EQ(version, "before");

    found = false;
    EXPECT_TRUE(FileVersionFinder(versioned).find(version, found));
    EXPECT_TRUE(found);
    EXPECT_EQ(version, "44.2.7.65535");

    EXPECT_EQ(
        log.entries(),
        (std::vector<LogEntry>{{"update_manager", "debug",
                                "FileVersion: Found version 44.2.7.65535 for item " + versioned}}));
}

TEST_F(FileVersionFinding, PlaceholderIsExpandedOnceAtConstruction)
{
    if (!userSettingsFollowTheEnvironment())
        GTEST_SKIP() << fixedUserFolders;
    boost::filesystem::create_directories(folder / "home" / "Product");
    PeFileBuilder::writeFile(folder / "home" / "Product" / "Product.exe",
                             PeFileBuilder().fileVersion({5, 4, 3, 2}).build());
    const FileVersionFinder finder("<user>/Product/Product.exe");
    environment.set("HOME", "/nonexistent");
    std::string version;
    bool found = false;
    EXPECT_TRUE(finder.find(version, found));
    EXPECT_EQ(version, "5.4.3.2");
}

TEST_F(FileVersionFinding, UnaskablePathsCountAsMissing)
{
    const std::string tooLong = (folder / std::string(5000, 'x')).string();
    const boost::filesystem::path notAFolder = unversionedFile("file.exe") / "Product.exe";
    for (const std::string& path : {tooLong, notAFolder.string(), std::string()})
    {
        std::string version = "before";
        bool found = true;
        EXPECT_FALSE(FileVersionFinder(path).find(version, found)) << path;
        EXPECT_FALSE(found);
        EXPECT_EQ(version, "before");
    }
}
