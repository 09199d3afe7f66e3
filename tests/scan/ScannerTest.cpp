#include "UpdateManager/scan/Scanner.h"
#include "UpdateManager/scan/FileVersionFinder.h"
#include "UpdateManager/scan/RegKeyVersionFinder.h"
#include "platform/Platform.h"
#include "tests/support/LogCapture.h"
#include "tests/support/PeFileBuilder.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestSystem.h"

#include <gtest/gtest.h>

#include <boost/filesystem/fstream.hpp>

using namespace Veltora::UpdateManager;
using namespace Veltora::Testing;

namespace
{
class ScannerDefinition : public testing::Test
{
protected:
    boost::filesystem::path definition(const std::string& json)
    {
        const boost::filesystem::path file = folder / "scanner.json";
        boost::filesystem::ofstream(file) << json;
        return file;
    }

    // The kinds of a product's finders in order: 'f' file, 'r' registry.
    static std::string kinds(const Scanner& scanner, const std::string& sku)
    {
        const VersionFinderSet* set = scanner.findersOf(sku);
        if (set == nullptr)
            return "<unknown>";
        std::string text;
        for (const auto& finder : set->members())
            text += dynamic_cast<const FileVersionFinder*>(finder.get()) != nullptr     ? 'f'
                    : dynamic_cast<const RegKeyVersionFinder*>(finder.get()) != nullptr ? 'r'
                                                                                        : '?';
        return text;
    }

    static std::vector<LogEntry> warnings(const std::vector<std::string>& messages)
    {
        std::vector<LogEntry> entries;
        for (const std::string& message : messages)
            entries.push_back({"update_manager", "warning", message});
        return entries;
    }

    TempFolder folder;
};

bool startsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}
} // namespace

TEST_F(ScannerDefinition, EmptyPathIsAParseFailure)
{
    LogCapture log({"update_manager", "external", "timing"});
    const Scanner scanner{boost::filesystem::path()};
    const std::vector<LogEntry> entries = log.entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].level, "error");
    EXPECT_TRUE(startsWith(entries[0].message, " Caught exception while parsing json file : "))
        << entries[0].message;
    EXPECT_EQ(scanner.findersOf(""), nullptr);
}

TEST_F(ScannerDefinition, MissingFileIsReportedWithoutParsing)
{
    LogCapture log({"update_manager", "external", "timing"});
    const boost::filesystem::path missing = folder / "missing.json";
    const Scanner scanner(missing);
    EXPECT_EQ(log.entries(),
              warnings({"Could not find scanner definition file: " + missing.string()}));
}

TEST_F(ScannerDefinition, UnparsableFilesAreErrorsAndLoadNothing)
{
    const std::string deep(100000, '[');
    std::string manyValues = "{\"scanner\": [0";
    for (int value = 0; value < 30000; ++value)
        manyValues += ",0";
    manyValues += "]}";
    const std::string huge = "{\"scanner\": [], \"notes\": \"" + std::string(2000000, 'x') + "\"}";
    for (const std::string& text :
         {std::string("{\"scanner\": [ {\"sku\": \"A\", "), std::string("not json"),
          std::string(""), std::string("{\"scanner\": []} trailing"),
          "{\"scanner\": " + deep + std::string(100000, ']') + "}", deep, manyValues, huge})
    {
        LogCapture log({"update_manager", "external", "timing"});
        const Scanner scanner(definition(text));
        const std::vector<std::string> errors = log.messages("update_manager", "error");
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_TRUE(startsWith(errors[0], " Caught exception while parsing json file " +
                                              (folder / "scanner.json").string() + ": "))
            << errors[0];
        EXPECT_EQ(scanner.findersOf("A"), nullptr);
    }
    LogCapture log({"update_manager", "external", "timing"});
    const Scanner folderAsDefinition(folder.path());
    EXPECT_EQ(log.messages("update_manager", "error").size(), 1u);
}

TEST_F(ScannerDefinition, RootWithoutScannerLoadsEmpty)
{
    LogCapture log({"update_manager", "external", "timing"});
    const Scanner scanner(definition(R"({"scanners": [{"name": "N", "sku": "A", "rules": []}]})"));
    EXPECT_EQ(scanner.findersOf("A"), nullptr);
    EXPECT_EQ(
        log.entries(),
        (std::vector<LogEntry>{
            {"update_manager", "error",
             "'scanner' node not found in scanner definition file: No such node (scanner)"}}));
}

TEST_F(ScannerDefinition, UnsupportedRulesAreSkippedWithTheirWarnings)
{
    LogCapture log({"update_manager", "external", "timing"});
    const Scanner scanner(definition(R"({"scanner": [{
        "name": "Product", "sku": "PRD-1",
        "rules": [
            {"file": "<pf86>/Vendor/Product.exe"},
            {"regkey": ["HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Product\\InstallDir", "Product.exe"]},
            {"regkey": ["HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Product\\InstallDir"]},
            {"zip": "Product.zip"},
            "plain string"
        ]}]})"));
    EXPECT_EQ(kinds(scanner, "PRD-1"), "fr");
    const auto* file =
        dynamic_cast<const FileVersionFinder*>(scanner.findersOf("PRD-1")->members()[0].get());
    std::string programFiles;
    ASSERT_TRUE(Veltora::Platform::knownFolderPath(Veltora::Platform::KnownFolder::ProgramFilesX86,
                                                   programFiles));
    EXPECT_EQ(file->filePath().string(), programFiles + "/Vendor/Product.exe");
    std::vector<LogEntry> expected =
        warnings({"Missing a string in RegkeyVersionFinder definition in json 'regkey'",
                  "Could not add Unknown Rule 'regkey'", "Could not add Unknown Rule 'zip'"});
    expected.push_back({"update_manager", "info", "2 scan rules to find PRD-1"});
    EXPECT_EQ(log.entries(), expected);
}

TEST_F(ScannerDefinition, RulesOfOneSkuAppendAndEmptyProductsAreKnown)
{
    LogCapture log({"update_manager", "external", "timing"});
    const Scanner scanner(definition(R"({"scanner": [
        {"name": "One", "sku": "S", "rules": [{"file": "/a"}]},
        {"name": "None", "sku": "E", "rules": [{"zip": "x"}, {}, 7]},
        {"name": "Two", "sku": "S", "rules": [
            {"regkey": ["HKEY_CURRENT_USER\\K\\V", "b.exe", "bin"]},
            {"file": "/c", "regkey": ["HKEY_CURRENT_USER\\K\\V", "x"]}]}
    ]})"));
    EXPECT_EQ(kinds(scanner, "S"), "frf");
    EXPECT_EQ(kinds(scanner, "E"), "");
    EXPECT_EQ(log.messages("update_manager", "info"),
              (std::vector<std::string>{"1 scan rules to find S", "0 scan rules to find E",
                                        "3 scan rules to find S"}));
    EXPECT_EQ(log.messages("update_manager", "warning"),
              (std::vector<std::string>{"Could not add Unknown Rule 'zip'"}));
}

TEST_F(ScannerDefinition, IncompleteProductsAreSkippedAndOthersStillRead)
{
    LogCapture log({"update_manager", "external", "timing"});
    const Scanner scanner(definition(R"({"scanner": [
        {"name": "No SKU", "rules": [{"file": "/a"}]},
        {"sku": "NONAME", "rules": [{"file": "/a"}]},
        {"name": "No rules", "sku": "NORULES"},
        "just text",
        {"name": "Good", "sku": "GOOD", "rules": [{"file": "/g"}]}
    ]})"));
    EXPECT_EQ(kinds(scanner, "GOOD"), "f");
    for (const char* sku : {"NONAME", "NORULES", ""})
        EXPECT_EQ(scanner.findersOf(sku), nullptr) << sku;
    EXPECT_EQ(log.messages("update_manager", "warning"),
              (std::vector<std::string>{
                  "Bad scanner definition for product 'No SKU': No such node (sku)",
                  "Bad scanner definition for product '': No such node (name)",
                  "Bad scanner definition for product 'No rules': No such node (rules)",
                  "Bad scanner definition for product '': No such node (name)"}));
}

// Wrong JSON types never crash and never create more than the rules allow.
TEST_F(ScannerDefinition, WrongJsonTypesAreToleratedWithoutCrashing)
{
    const struct
    {
        const char* json;
        const char* sku;
        const char* kinds;
    } cases[] = {
        {R"({"scanner": "text"})", "A", "<unknown>"},
        {R"({"scanner": 5})", "A", "<unknown>"},
        {R"({"scanner": {"p": {"name": "N", "sku": "A", "rules": {"r": {"file": "/x"}}}}})", "A",
         "f"},
        {R"({"scanner": [{"name": "N", "sku": "A", "rules": "text"}]})", "A", ""},
        {R"({"scanner": [{"name": "N", "sku": "A", "rules": [["file", "/x"]]}]})", "A", ""},
        {R"({"scanner": [{"name": "N", "sku": "A", "rules": [{"regkey": "text"}]}]})", "A", ""},
        {R"({"scanner": [{"name": "N", "sku": "A", "rules": [{"regkey": {"a": "K\\V", "b": "f"}}]}]})",
         "A", "r"},
        {R"({"scanner": [{"name": "N", "sku": "A", "rules": [{"regkey": [[], {}, 3]}]}]})", "A",
         "r"},
        {R"({"scanner": [{"name": "N", "sku": "A", "rules": [{"file": ["/x"]}, {"file": null}]}]})",
         "A", "ff"},
        {R"({"scanner": [{"name": {"x": 1}, "sku": ["A"], "rules": []}]})", "", ""},
    };
    for (const auto& test : cases)
    {
        SCOPED_TRACE(test.json);
        LogCapture log({"update_manager", "external", "timing"});
        const Scanner scanner(definition(test.json));
        EXPECT_EQ(kinds(scanner, test.sku), test.kinds);
        EXPECT_EQ(scanner.scanProduct(test.sku).second, "not_installed");
    }
}

namespace
{
// A scanner over real files: a definition with "file" and "regkey" rules whose targets
// live in the test's folder, reached through $HOME and a Wine prefix.
class ProductScan : public testing::Test
{
protected:
    void SetUp() override
    {
        if (!userSettingsFollowTheEnvironment())
            GTEST_SKIP() << "its files are reached through HOME and a Wine prefix's registry file";
    }

    ProductScan()
    {
        environment.set("HOME", (folder / "home").string());
        environment.set("WINEPREFIX", (folder / "wine").string());
        boost::filesystem::create_directories(folder / "home" / "Vendor");
        boost::filesystem::create_directories(folder / "wine");
        boost::filesystem::create_directories(folder / "Apps");
        boost::filesystem::ofstream(folder / "wine" / "system.reg")
            << "[Software\\\\Vendor\\\\Product] 1\n"
            << "\"InstallDir\"=\"" << (folder / "Apps").string() << "\"\n";
    }

    boost::filesystem::path write(const std::string& name, const std::string& json)
    {
        boost::filesystem::ofstream(folder / name) << json;
        return folder / name;
    }

    void install(const boost::filesystem::path& file, bool withVersion,
                 PeFileBuilder::Version version = {})
    {
        PeFileBuilder builder;
        if (withVersion)
            builder.fileVersion(version);
        else
            builder.withoutVersionResource();
        PeFileBuilder::writeFile(file, builder.build());
    }

    TempFolder folder;
    ScopedEnvironment environment;
};

const char* const twoRuleDefinition = R"({"scanner": [{"name": "Product", "sku": "PRD",
    "rules": [
        {"file": "<user>/Vendor/Product.exe"},
        {"regkey": ["HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Product\\InstallDir", "Product.exe"]}
    ]}]})";
} // namespace

TEST_F(ProductScan, FirstFinderWithAVersionWins)
{
    const Scanner scanner(write("scanner.json", twoRuleDefinition));
    const VersionFinderSet& set = *scanner.findersOf("PRD");
    std::string version = "before";
    bool found = true;

    {
        LogCapture log({"update_manager", "external", "timing"});
        EXPECT_FALSE(set.find(version, found));
        EXPECT_FALSE(found);
        EXPECT_EQ(version, "not_installed");
        EXPECT_EQ(log.messages("update_manager", "debug"),
                  (std::vector<std::string>{"VersionFinderSet: Didn't find any version number."}));
    }

    install(folder / "home" / "Vendor" / "Product.exe", false);
    EXPECT_FALSE(set.find(version, found));
    EXPECT_TRUE(found);
    EXPECT_EQ(version, "unknown");

    install(folder / "Apps" / "Product.exe", true, {2, 0, 0, 1});
    found = false;
    EXPECT_TRUE(set.find(version, found));
    EXPECT_TRUE(found);
    EXPECT_EQ(version, "2.0.0.1");

    install(folder / "home" / "Vendor" / "Product.exe", true, {1, 5, 0, 0});
    EXPECT_TRUE(set.find(version, found));
    EXPECT_EQ(version, "1.5.0.0");
}

TEST_F(ProductScan, EmptySetIsNotInstalled)
{
    const VersionFinderSet empty;
    LogCapture log({"update_manager", "external", "timing"});
    std::string version;
    bool found = true;
    EXPECT_FALSE(empty.find(version, found));
    EXPECT_FALSE(found);
    EXPECT_EQ(version, "not_installed");
    EXPECT_EQ(log.messages("update_manager", "debug").size(), 1u);
}

TEST_F(ProductScan, ScanProductReportsWhatItFound)
{
    const Scanner scanner(write("scanner.json", twoRuleDefinition));
    install(folder / "Apps" / "Product.exe", true, {300, 2, 7, 65535});
    LogCapture log({"update_manager", "external", "timing"});
    const std::pair<ProductKey, std::string> installed = scanner.scanProduct("PRD");
    EXPECT_EQ(installed.first, (ProductKey{"PRD", "soft"}));
    EXPECT_EQ(installed.second, "44.2.7.65535");
    EXPECT_EQ(
        log.messages("update_manager", "info"),
        (std::vector<std::string>{"Searching for PRD", "Searching for Found PRD/44.2.7.65535"}));
}

TEST_F(ProductScan, UnknownSkuAsksNoFinder)
{
    LogCapture log({"update_manager", "external", "timing"});
    const Scanner empty{boost::filesystem::path()};
    const std::pair<ProductKey, std::string> result = empty.scanProduct("ANY");
    EXPECT_EQ(result.first, (ProductKey{"ANY", "soft"}));
    EXPECT_EQ(result.second, "not_installed");
    EXPECT_EQ(
        log.messages("update_manager", "info"),
        (std::vector<std::string>{"Searching for ANY", "Searching for Found ANY/not_installed"}));
    EXPECT_TRUE(log.messages("update_manager", "debug").empty());
}

TEST_F(ProductScan, CompleteScanCoversEverySkuInKeyOrderAndIsTimed)
{
    const Scanner scanner(write("scanner.json", R"({"scanner": [
        {"name": "Zeta", "sku": "ZETA", "rules": [{"file": "<user>/Vendor/Zeta.exe"}]},
        {"name": "Alpha", "sku": "ALPHA", "rules": [{"file": "<user>/Vendor/Alpha.exe"}]},
        {"name": "Mid", "sku": "MID", "rules": [{"file": "<user>/Vendor/Mid.exe"}]},
        {"name": "Bare", "sku": "BARE", "rules": []}
    ]})"));
    install(folder / "home" / "Vendor" / "Alpha.exe", true, {1, 10, 0, 0});
    install(folder / "home" / "Vendor" / "Mid.exe", false);
    LogCapture log({"update_manager", "external", "timing"});
    const std::map<ProductKey, std::string> versions = scanner.completeScan();
    using Scanned = std::vector<std::pair<ProductKey, std::string>>;
    const Scanned expected = {{{"ALPHA", "soft"}, "1.10.0.0"},
                              {{"BARE", "soft"}, "not_installed"},
                              {{"MID", "soft"}, "unknown"},
                              {{"ZETA", "soft"}, "not_installed"}};
    EXPECT_EQ(Scanned(versions.begin(), versions.end()), expected);
    const std::vector<LogEntry> entries = log.entries();
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries.front(), (LogEntry{"update_manager", "info", "Complete Scan"}));
    EXPECT_EQ(entries.back().category, "timing");
    EXPECT_EQ(entries.back().level, "notice");
    EXPECT_TRUE(startsWith(entries.back().message, "Complete Scan : ")) << entries.back().message;
    EXPECT_EQ(entries.back().message.substr(entries.back().message.size() - 3), " ms");
}

TEST_F(ProductScan, ProductInstalledAfterStartIsFoundByTheNextScan)
{
    const Scanner scanner(write("scanner.json", twoRuleDefinition));
    EXPECT_EQ(scanner.scanProduct("PRD").second, "not_installed");
    install(folder / "Apps" / "Product.exe", true, {3, 1, 4, 1});
    EXPECT_EQ(scanner.scanProduct("PRD").second, "3.1.4.1");
    EXPECT_EQ(scanner.completeScan().at(ProductKey{"PRD", "soft"}), "3.1.4.1");
}
