#include "UpdateManager/scan/RegKeyVersionFinder.h"
#include "tests/support/LogCapture.h"
#include "tests/support/PeFileBuilder.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestRegistry.h"

#include <gtest/gtest.h>

#include <boost/filesystem/operations.hpp>

#include <memory>
#include <stdexcept>

using namespace Veltora::UpdateManager;
using namespace Veltora::Testing;

namespace
{
const char* const unknownRootMessage =
    "Reg Key is none of {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT}\n"
    " The registrykey could not be resolved.";

// Registry values that name installation folders inside the test's folder, and the
// product files in them.
class RegistryFinding : public testing::Test
{
protected:
    void SetUp() override
    {
        const std::string apps = (folder / "Apps").string();
        boost::filesystem::create_directories(folder / "Apps" / "Product" / "bin");
        PeFileBuilder::writeFile(folder / "Apps" / "Product" / "Product.exe",
                                 PeFileBuilder().fileVersion({1, 2, 3, 4}).build());
        PeFileBuilder::writeFile(folder / "Apps" / "Product" / "bin" / "Product.exe",
                                 PeFileBuilder().fileVersion({2, 0, 0, 1}).build());
        PeFileBuilder::writeFile(folder / "Apps" / "Product" / "Plain.exe",
                                 PeFileBuilder().withoutVersionResource().build());
        using Root = TestRegistry::Root;
        using Type = TestRegistry::Type;
        const std::string product = "Software\\Vendor\\Product";
        try
        {
            registry = std::make_unique<TestRegistry>(
                folder.path(),
                std::vector<TestRegistry::Value>{
                    {Root::LocalMachine, product, "InstallDir", Type::String, apps + "/Product"},
                    {Root::LocalMachine, product, "WithSlash", Type::String, apps + "/Product/"},
                    {Root::LocalMachine, product, "Expand", Type::ExpandableString,
                     apps + "/Product"},
                    {Root::LocalMachine, product, "Number", Type::Number, "1"},
                    {Root::LocalMachine, product, "Nowhere", Type::String, apps + "/Gone"},
                    {Root::LocalMachine, "Software\\Classes\\Vendor.Product", "", Type::String,
                     apps + "/Product"},
                    {Root::CurrentUser, product, "InstallDir", Type::String,
                     apps + "/Product/bin"}});
        }
        catch (const std::runtime_error& error)
        {
            GTEST_SKIP() << error.what();
        }
    }

    struct Outcome
    {
        bool result;
        bool found;
        std::string version;
    };

    static Outcome find(const std::u16string& keyAndValue, const std::u16string& fileName,
                        const std::u16string& subFolder = u"")
    {
        Outcome outcome{false, true, "before"};
        outcome.result = RegKeyVersionFinder(keyAndValue, fileName, subFolder)
                             .find(outcome.version, outcome.found);
        return outcome;
    }

    TempFolder folder;
    std::unique_ptr<TestRegistry> registry;
};

const std::u16string installDir = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Product\\InstallDir";
} // namespace

TEST_F(RegistryFinding, ReadsTheVersionOfTheFileInTheNamedFolder)
{
    LogCapture log({"update_manager", "external", "timing"});
    const Outcome outcome = find(installDir, u"Product.exe");
    EXPECT_TRUE(outcome.result);
    EXPECT_TRUE(outcome.found);
    EXPECT_EQ(outcome.version, "1.2.3.4");
    EXPECT_EQ(log.entries(), (std::vector<LogEntry>{
                                 {"update_manager", "debug",
                                  "RegKeyVersion: Found version 1.2.3.4 for item "
                                  "HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Product/InstallDir"}}));
}

TEST_F(RegistryFinding, JoinsSubFolderAndFileName)
{
    const struct
    {
        std::u16string keyAndValue;
        std::u16string fileName;
        std::u16string subFolder;
        const char* version;
    } cases[] = {
        {installDir, u"Product.exe", u"bin", "2.0.0.1"},
        {installDir, u"bin/Product.exe", u"", "2.0.0.1"},
        {u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Product\\WithSlash", u"Product.exe", u"",
         "1.2.3.4"},
        {u"hkey_local_machine\\software\\vendor\\product\\installdir", u"Product.exe", u"",
         "1.2.3.4"},
        {u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Product/InstallDir", u"Product.exe", u"",
         "1.2.3.4"},
        {u"HKEY_CURRENT_USER\\Software\\Vendor\\Product\\InstallDir", u"Product.exe", u"",
         "2.0.0.1"},
        {u"HKEY_CLASSES_ROOT\\Vendor.Product\\", u"Product.exe", u"", "1.2.3.4"},
    };
    for (const auto& test : cases)
    {
        const Outcome outcome = find(test.keyAndValue, test.fileName, test.subFolder);
        EXPECT_TRUE(outcome.result);
        EXPECT_TRUE(outcome.found);
        EXPECT_EQ(outcome.version, test.version);
    }
}

TEST_F(RegistryFinding, SplitsTheFirstItemAtItsLastSeparator)
{
    const RegKeyVersionFinder backslash(installDir, u"Product.exe", u"");
    EXPECT_EQ(backslash.registryKeyPath(), u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Product");
    EXPECT_EQ(backslash.registryValueName(), u"InstallDir");
    const RegKeyVersionFinder slash(u"HKEY_LOCAL_MACHINE\\SOFTWARE/Vendor\\Product/InstallDir",
                                    u"Product.exe", u"");
    EXPECT_EQ(slash.registryKeyPath(), u"HKEY_LOCAL_MACHINE\\SOFTWARE/Vendor\\Product");
    EXPECT_EQ(slash.registryValueName(), u"InstallDir");
    const RegKeyVersionFinder none(u"HKEY_LOCAL_MACHINE", u"Product.exe", u"");
    EXPECT_EQ(none.registryKeyPath(), u"HKEY_LOCAL_MACHINE");
    EXPECT_EQ(none.registryValueName(), u"HKEY_LOCAL_MACHINE");
}

TEST_F(RegistryFinding, FailuresAreSilentExceptAnUnknownRoot)
{
    LogCapture log({"update_manager", "external", "timing"});
    const struct
    {
        std::u16string keyAndValue;
        std::u16string fileName;
        bool found;
    } cases[] = {
        {u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Product\\Expand", u"Product.exe", false},
        {u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Product\\Number", u"Product.exe", false},
        {u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Product\\Missing", u"Product.exe", false},
        {u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Other\\InstallDir", u"Product.exe", false},
        {u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Product\\Nowhere", u"Product.exe", false},
        {u"HKEY_LOCAL_MACHINE", u"Product.exe", false},
        {installDir, u"Missing.exe", false},
        {installDir, u"Plain.exe", true},
    };
    for (const auto& test : cases)
    {
        const Outcome outcome = find(test.keyAndValue, test.fileName);
        EXPECT_FALSE(outcome.result);
        EXPECT_EQ(outcome.found, test.found);
        EXPECT_EQ(outcome.version, "before");
    }
    EXPECT_TRUE(log.entries().empty());
}

TEST_F(RegistryFinding, UnknownRootIsAnExternalError)
{
    LogCapture log({"update_manager", "external", "timing"});
    const Outcome outcome = find(u"HKEY_USERS\\S-1-5-18\\Software\\Vendor\\InstallDir", u"x.exe");
    EXPECT_FALSE(outcome.result);
    EXPECT_FALSE(outcome.found);
    std::string value = "untouched";
    EXPECT_FALSE(readRegistryString(u"Software\\Vendor", u"InstallDir", value));
    EXPECT_EQ(value, "untouched");
    EXPECT_EQ(log.entries(), (std::vector<LogEntry>{{"external", "error", unknownRootMessage},
                                                    {"external", "error", unknownRootMessage}}));
}
