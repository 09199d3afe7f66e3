#include "platform/Platform.h"
#include "tests/support/SampleRegistryHive.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <boost/filesystem/fstream.hpp>

#include <cstdlib>
#include <optional>
#include <random>

using Veltora::Platform::narrowText;
using Veltora::Platform::readRegistryValue;
using Veltora::Platform::RegistryRoot;
using Veltora::Testing::sampleSystemHive;
using Veltora::Testing::TempFolder;

namespace
{
const char* const userHive = R"(WINE REGISTRY Version 2
;; All keys relative to \\User\\S-1-5-21-0-0-0-1000

[Software\\Vendor\\Product] 1700000000
"InstallDir"="C:\\Users\\me\\Product"
)";

class WineRegistry : public testing::Test
{
protected:
    WineRegistry()
    {
        const char* prefix = std::getenv("WINEPREFIX");
        savedPrefix = prefix ? std::optional<std::string>(prefix) : std::nullopt;
        setenv("WINEPREFIX", folder.path().c_str(), 1);
        writeHive("system.reg", sampleSystemHive);
        writeHive("user.reg", userHive);
    }
    ~WineRegistry() override
    {
        if (savedPrefix)
            setenv("WINEPREFIX", savedPrefix->c_str(), 1);
        else
            unsetenv("WINEPREFIX");
    }

    void writeHive(const std::string& name, const std::string& text)
    {
        boost::filesystem::ofstream(folder / name, std::ios::binary) << text;
    }

    static std::optional<std::string> read(RegistryRoot root, const std::u16string& key,
                                           const std::u16string& name)
    {
        std::string value = "untouched";
        if (!readRegistryValue(root, key, name, value))
        {
            EXPECT_EQ(value, "untouched");
            return std::nullopt;
        }
        return value;
    }

    TempFolder folder;
    std::optional<std::string> savedPrefix;
};

constexpr RegistryRoot machine = RegistryRoot::LocalMachine;
} // namespace

TEST_F(WineRegistry, ReadsStringValuesOfEachRoot)
{
    EXPECT_EQ(read(machine, u"Software\\Vendor\\Product", u"InstallDir"), "C:\\Apps\\Product");
    EXPECT_EQ(read(machine, u"SOFTWARE\\VENDOR\\product", u"installdir"), "C:\\Apps\\Product");
    EXPECT_EQ(read(machine, u"Software\\Vendor\\Product\\Sub", u"InstallDir"), "C:\\Other");
    EXPECT_EQ(read(machine, u"Software\\Vendor\\Product", u"Empty"), "");
    EXPECT_EQ(read(RegistryRoot::CurrentUser, u"Software\\Vendor\\Product", u"InstallDir"),
              "C:\\Users\\me\\Product");
    EXPECT_EQ(read(RegistryRoot::ClassesRoot, u".VPROJ", u""), "Veltora.Project");
}

TEST_F(WineRegistry, DecodesEscapesAndEndsAtNulOrUnpairedSurrogate)
{
    EXPECT_EQ(read(machine, u"Software\\Vendor\\Product", u"Escapes"),
              "q\"uote\" tab\t nl\n e\xC3\xA9 smile\xE2\x98\xBA oct"
              "A bell\a");
    EXPECT_EQ(read(machine, u"Software\\Vendor\\Product", u"Cut"), "before");
    EXPECT_EQ(read(machine, u"Software\\Vendor\\Product", u"Surrogate"), "ok\xF0\x9F\x98\x80 then");
    EXPECT_EQ(read(machine, u"Software\\Vendor\\Product", u"Unicode"), "Caf\xC3\xA9");
    EXPECT_EQ(read(machine, u"Software\\Vendor\\Product", u"unicode"), "Caf\xC3\xA9");
}

TEST_F(WineRegistry, OtherTypesAndMissingEntriesReadAsFalse)
{
    for (const char16_t* name : {u"Count", u"Expand", u"Binary", u"Multi", u"AsHex", u"Missing"})
        EXPECT_EQ(read(machine, u"Software\\Vendor\\Product", name), std::nullopt);
    EXPECT_EQ(read(machine, u"Software\\Vendor\\Product2", u"InstallDir"), std::nullopt);
    EXPECT_EQ(read(machine, u"Software\\Vendor", u"InstallDir"), std::nullopt);
    EXPECT_EQ(read(machine, u"Software\\Vendor\\Product", u""), std::nullopt);
    EXPECT_EQ(read(RegistryRoot::CurrentUser, u"Software\\Vendor\\Product2", u"Only"),
              std::nullopt);
    EXPECT_EQ(read(RegistryRoot::ClassesRoot, u"Vendor\\Product", u"InstallDir"), std::nullopt);

    setenv("WINEPREFIX", (folder / "no-prefix-here").c_str(), 1);
    EXPECT_EQ(read(machine, u"Software\\Vendor\\Product", u"InstallDir"), std::nullopt);
}

TEST_F(WineRegistry, PrefixDefaultsToDotWineInHome)
{
    const char* home = std::getenv("HOME");
    const std::optional<std::string> savedHome =
        home ? std::optional<std::string>(home) : std::nullopt;
    boost::filesystem::create_directories(folder / "home" / ".wine");
    boost::filesystem::ofstream(folder / "home" / ".wine" / "user.reg")
        << "[Software\\\\Vendor] 1\n\"Dir\"=\"from home\"\n";
    unsetenv("WINEPREFIX");
    setenv("HOME", (folder / "home").c_str(), 1);
    EXPECT_EQ(read(RegistryRoot::CurrentUser, u"Software\\Vendor", u"Dir"), "from home");
    unsetenv("HOME");
    EXPECT_EQ(read(RegistryRoot::CurrentUser, u"Software\\Vendor", u"Dir"), std::nullopt);
    if (savedHome)
        setenv("HOME", savedHome->c_str(), 1);
}

TEST_F(WineRegistry, ValuesLargerThanTheBufferAreRefused)
{
    const std::string fits(2047, 'a');
    const std::string tooLong(2048, 'a');
    // 1000 two-byte characters fit in UTF-16 but not in 2047 narrow bytes.
    std::string wideInNarrow;
    for (int index = 0; index < 1100; ++index)
        wideInNarrow += "\\x00e9";
    writeHive("system.reg", "[Big] 1\n\"Fits\"=\"" + fits + "\"\n\"TooLong\"=\"" + tooLong +
                                "\"\n\"Wide\"=\"" + wideInNarrow + "\"\n");
    EXPECT_EQ(read(machine, u"Big", u"Fits"), fits);
    EXPECT_EQ(read(machine, u"Big", u"TooLong"), std::nullopt);
    EXPECT_EQ(read(machine, u"Big", u"Wide"), std::nullopt);
}

TEST_F(WineRegistry, BrokenLinesAreSkippedAndNeverOverrun)
{
    writeHive("system.reg", "[Unterminated\\\\Key 1\n"
                            "\"InstallDir\"=\"wrong key\"\n"
                            "[Key] 1\r\n"
                            "\"Broken\r\n"
                            "\"Other\"=\"unterminated\r\n"
                            "\"NoEquals\" \"x\"\r\n"
                            "@\r\n"
                            "\"\r\n"
                            "\\\r\n"
                            "[\r\n"
                            "[Key]\r\n"
                            "\"Trailing\"=\"ends with backslash\\\r\n"
                            "\"Escape\"=\"\\x\"\r\n"
                            "\"Octal\"=\"\\777\"\r\n"
                            "\"InstallDir\"=\"C:\\\\ok\"\r\n");
    EXPECT_EQ(read(machine, u"Key", u"InstallDir"), "C:\\ok");
    EXPECT_EQ(read(machine, u"Key", u"Other"), std::nullopt);
    EXPECT_EQ(read(machine, u"Key", u"Trailing"), std::nullopt);
    EXPECT_EQ(read(machine, u"Key", u"Escape"), "x");
    EXPECT_EQ(read(machine, u"Key", u"Octal"), "\xC7\xBF");
    EXPECT_EQ(read(machine, u"Unterminated\\Key 1", u"InstallDir"), std::nullopt);
}

// Random damage to a real-looking hive with a fixed seed; the sanitizer builds turn any
// stray read into a failure.
TEST_F(WineRegistry, RandomlyDamagedHivesNeverCrash)
{
    const std::string original = sampleSystemHive;
    std::mt19937 random(77u);
    std::uniform_int_distribution<std::size_t> position(0, original.size() - 1);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int round = 0; round < 300; ++round)
    {
        std::string hive = original.substr(0, position(random));
        for (int change = 0; change < 8; ++change)
            if (!hive.empty())
                hive[position(random) % hive.size()] = static_cast<char>(byte(random));
        writeHive("system.reg", hive);
        std::string value;
        readRegistryValue(machine, u"Software\\Vendor\\Product", u"InstallDir", value);
        readRegistryValue(machine, u"Software\\Vendor\\Product", u"Escapes", value);
    }
}

TEST(NarrowText, WritesUtf8AndStopsAtUnpairedSurrogates)
{
    EXPECT_EQ(narrowText(u"plain"), "plain");
    EXPECT_EQ(narrowText(u"\u00e9\u263a\U0001F600"), "\xC3\xA9\xE2\x98\xBA\xF0\x9F\x98\x80");
    EXPECT_EQ(narrowText(std::u16string(u"a") + char16_t(0xDC00) + u"b"), "a");
    EXPECT_EQ(narrowText(std::u16string(u"a") + char16_t(0xD800)), "a");
    EXPECT_EQ(narrowText(std::u16string(u"a") + char16_t(0xD800) + u"b"), "a");
}
