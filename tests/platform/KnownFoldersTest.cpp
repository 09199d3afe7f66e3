#include "platform/Platform.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <boost/filesystem/fstream.hpp>

#include <cstdlib>
#include <optional>

using Veltora::Platform::KnownFolder;
using Veltora::Platform::knownFolderPath;
using Veltora::Testing::TempFolder;

namespace
{
// Sets HOME and the XDG variables for this test only and puts the old values back.
class KnownFolders : public testing::Test
{
protected:
    KnownFolders()
    {
        for (const char* name : variables)
        {
            const char* value = std::getenv(name);
            saved.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
            unsetenv(name);
        }
        setenv("HOME", home().c_str(), 1);
        boost::filesystem::create_directories(home() / ".config");
    }
    ~KnownFolders() override
    {
        for (const auto& [name, value] : saved)
            if (value)
                setenv(name, value->c_str(), 1);
            else
                unsetenv(name);
    }

    boost::filesystem::path home() const { return folder / "home"; }

    void writeUserDirs(const boost::filesystem::path& configFolder, const std::string& text)
    {
        boost::filesystem::create_directories(configFolder);
        boost::filesystem::ofstream(configFolder / "user-dirs.dirs") << text;
    }

    std::optional<std::string> lookUp(KnownFolder known)
    {
        std::string path = "untouched";
        if (!knownFolderPath(known, path))
        {
            EXPECT_EQ(path, "untouched");
            return std::nullopt;
        }
        return path;
    }

    static constexpr const char* variables[] = {"HOME", "XDG_CONFIG_HOME", "XDG_DOWNLOAD_DIR"};
    std::vector<std::pair<const char*, std::optional<std::string>>> saved;
    TempFolder folder;
};
} // namespace

TEST_F(KnownFolders, FixedAndHomeFolders)
{
    EXPECT_EQ(lookUp(KnownFolder::Profile), home().string());
    EXPECT_EQ(lookUp(KnownFolder::ProgramData), "/var/lib");
    EXPECT_EQ(lookUp(KnownFolder::ProgramFilesX86), "/opt");
    EXPECT_EQ(lookUp(KnownFolder::ProgramFilesX64), "/opt");

    setenv("HOME", (home().string() + "//").c_str(), 1);
    EXPECT_EQ(lookUp(KnownFolder::Profile), home().string());
    EXPECT_EQ(lookUp(KnownFolder::Downloads), (home() / "Downloads").string());
}

TEST_F(KnownFolders, DownloadsFromUserDirsFile)
{
    const std::string homeText = home().string();
    struct Case
    {
        const char* file;
        std::string expected;
    } cases[] = {
        {"# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
         "XDG_DOWNLOAD_DIR=\"$HOME/T\xC3\xA9l\xC3\xA9"
         "chargements\"\n",
         homeText + "/T\xC3\xA9l\xC3\xA9"
                    "chargements"},
        {"XDG_DOWNLOAD_DIR=\"/srv/downloads/\"\n", "/srv/downloads"},
        {"  XDG_DOWNLOAD_DIR=${HOME}/dl # unquoted\n", homeText + "/dl"},
        {"XDG_DOWNLOAD_DIR=\"$HOME\"\n", homeText},
        {"XDG_DOWNLOAD_DIR=\"$HOME/first\"\nXDG_DOWNLOAD_DIR=\"$HOME/second\"\n",
         homeText + "/second"},
        {"XDG_DOWNLOAD_DIR=\"$HOME/with \\\"quote\\\"\"\n", homeText + "/with \"quote\""},
        // Unusable lines fall back to the previous value or to $HOME/Downloads.
        {"XDG_DOWNLOAD_DIR=\"relative/dl\"\n", homeText + "/Downloads"},
        {"XDG_DOWNLOAD_DIR=\"$HOMEWARD/dl\"\n", homeText + "/Downloads"},
        {"XDG_DOWNLOAD_DIR=\"$HOME/ok\"\nXDG_DOWNLOAD_DIR=\"$HOME/unterminated\n",
         homeText + "/ok"},
        {"XDG_DOWNLOAD_DIRECTORY=\"/elsewhere\"\n#XDG_DOWNLOAD_DIR=\"/commented\"\n",
         homeText + "/Downloads"},
        {"XDG_DOWNLOAD_DIR\n=\n\"\n\\\n", homeText + "/Downloads"},
        {"", homeText + "/Downloads"},
    };
    for (const Case& test : cases)
    {
        SCOPED_TRACE(test.file);
        writeUserDirs(home() / ".config", test.file);
        EXPECT_EQ(lookUp(KnownFolder::Downloads), test.expected);
    }
}

TEST_F(KnownFolders, DownloadsSettingsOrder)
{
    writeUserDirs(home() / ".config", "XDG_DOWNLOAD_DIR=\"$HOME/from-default-config\"\n");
    EXPECT_EQ(lookUp(KnownFolder::Downloads), (home() / "from-default-config").string());

    const boost::filesystem::path otherConfig = folder / "config";
    writeUserDirs(otherConfig, "XDG_DOWNLOAD_DIR=\"$HOME/from-config-home\"\n");
    setenv("XDG_CONFIG_HOME", otherConfig.c_str(), 1);
    EXPECT_EQ(lookUp(KnownFolder::Downloads), (home() / "from-config-home").string());

    setenv("XDG_DOWNLOAD_DIR", "$HOME/from-environment/", 1);
    EXPECT_EQ(lookUp(KnownFolder::Downloads), (home() / "from-environment").string());
    setenv("XDG_DOWNLOAD_DIR", "/absolute/from-environment", 1);
    EXPECT_EQ(lookUp(KnownFolder::Downloads), "/absolute/from-environment");
    setenv("XDG_DOWNLOAD_DIR", "not-absolute", 1);
    EXPECT_EQ(lookUp(KnownFolder::Downloads), (home() / "from-config-home").string());
}

TEST_F(KnownFolders, WithoutHomeTheUserFoldersAreUnknown)
{
    unsetenv("HOME");
    EXPECT_EQ(lookUp(KnownFolder::Downloads), std::nullopt);
    EXPECT_EQ(lookUp(KnownFolder::Profile), std::nullopt);
    setenv("HOME", "", 1);
    EXPECT_EQ(lookUp(KnownFolder::Profile), std::nullopt);

    // A settings file that needs $HOME cannot help either; an absolute entry can.
    const boost::filesystem::path config = folder / "config";
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    writeUserDirs(config, "XDG_DOWNLOAD_DIR=\"$HOME/dl\"\n");
    EXPECT_EQ(lookUp(KnownFolder::Downloads), std::nullopt);
    writeUserDirs(config, "XDG_DOWNLOAD_DIR=\"/srv/dl\"\n");
    EXPECT_EQ(lookUp(KnownFolder::Downloads), "/srv/dl");

    EXPECT_EQ(lookUp(KnownFolder::ProgramData), "/var/lib");
}
