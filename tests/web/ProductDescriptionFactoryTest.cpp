#include "UpdateManager/web/ProductDescriptionFactory.h"
#include "UpdateManager/web/Resources.h"

#include "tests/support/CapturedStdout.h"
#include "tests/support/FileContent.h"
#include "tests/support/JsonTree.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestSystem.h"
#include "tests/support/TextSearch.h"

#include <boost/filesystem.hpp>
#include <boost/filesystem/fstream.hpp>
#include <gtest/gtest.h>

#include <functional>

using namespace Veltora::UpdateManager;
using namespace Veltora::Testing;
namespace fs = boost::filesystem;

namespace
{

const char* const fullResource = R"({
    "product_sku": "ABC",
    "name": "Synth One",
    "permalink": "http://downloads.example/SynthOne-2.0.exe",
    "version": "2.0.1",
    "links": {"product_page": {"href": "http://example/synth-one"}},
    "resources_site_link": "http://example/site",
    "release_notes_html": "<h1>2.0.1</h1>\n<p>Fixes</p>\n",
    "platform_min_version": "6.1",
    "platform_max_version": "10.0",
    "platform_display_version": "Windows 7 or later",
    "size": 123456,
    "checksum": "0123456789abcdef0123456789abcdef",
    "sha256": "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
    "signature": "c2lnbmF0dXJl",
    "ignored": {"deep": [1, 2, 3]}
})";

// Runs each test in a fresh current directory, where the release notes copy goes.
class ProductDescriptionFactoryTest : public ::testing::Test
{
protected:
    ProductDescriptionFactoryTest() : previousDirectory(fs::current_path())
    {
        fs::current_path(folder.path());
    }
    ~ProductDescriptionFactoryTest() override { fs::current_path(previousDirectory); }

    TempFolder folder;
    fs::path previousDirectory;
    ProductDescriptionFactory factory;
};

TEST_F(ProductDescriptionFactoryTest, FillsEveryMemberAndSavesTheReleaseNotes)
{
    ProductDescription description;
    LogCapture log({"description"});

    const bool created = factory.create("ABC", "soft", "0.0", parseJson(fullResource), description);
    const std::string text = log.text();

    ASSERT_TRUE(created);
    EXPECT_EQ(description.localVersion, "0.0");
    EXPECT_EQ(description.name, "Synth One");
    EXPECT_EQ(description.sku, "ABC");
    EXPECT_EQ(description.type, "soft");
    EXPECT_EQ(description.version, "2.0.1");
    EXPECT_EQ(description.permalink, "http://downloads.example/SynthOne-2.0.exe");
    EXPECT_EQ(description.productPageUrl, "http://example/synth-one");
    EXPECT_EQ(description.releaseNotesUrl, "file://" + (fs::path("temp") / "ABC.html").string());
    EXPECT_EQ(description.platformMinVersion, "6.1");
    EXPECT_EQ(description.platformMaxVersion, "10.0");
    EXPECT_EQ(description.platformDisplayVersion, "Windows 7 or later");
    EXPECT_EQ(description.size, 123456u);
    EXPECT_EQ(description.checksum, "0123456789abcdef0123456789abcdef");
    EXPECT_EQ(description.sha256,
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(description.signature, "c2lnbmF0dXJl");

    const std::string lineEnd = textFileLineEnd();
    EXPECT_EQ(readFile(folder / "temp" / "ABC.html"),
              "<h1>2.0.1</h1>" + lineEnd + "<p>Fixes</p>" + lineEnd);
    EXPECT_EQ(countOf(text, "| description     | error  | Resources Folder not yet defined\n"), 1u)
        << text;
}

TEST_F(ProductDescriptionFactoryTest, RejectsAnotherSkuWithoutTouchingTheDescription)
{
    ProductDescription description;
    description.name = "kept";
    CapturedStdout output;

    EXPECT_FALSE(factory.create("abc", "soft", "0.0", parseJson(fullResource), description));

    EXPECT_EQ(output.text(), "");
    EXPECT_EQ(description.name, "kept");
    EXPECT_TRUE(description.sku.empty());
    EXPECT_FALSE(fs::exists(folder / "temp"));
}

struct MissingKeyCase
{
    const char* name;
    const char* json;
    const char* printed;
};

void PrintTo(const MissingKeyCase& testCase, std::ostream* out)
{
    *out << testCase.name;
}

class MissingKey : public ProductDescriptionFactoryTest,
                   public ::testing::WithParamInterface<MissingKeyCase>
{
};

TEST_P(MissingKey, PrintsTheTreesErrorAndFails)
{
    ProductDescription description;
    CapturedStdout output;

    const bool created =
        factory.create("ABC", "soft", "0.0", parseJson(GetParam().json), description);

    EXPECT_FALSE(created);
    EXPECT_EQ(output.text(), std::string(GetParam().printed) + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    ProductDescriptionFactory, MissingKey,
    ::testing::Values(
        MissingKeyCase{"Sku", R"({"name":"n","permalink":"p","version":"1"})",
                       "No such node (product_sku)"},
        MissingKeyCase{"Name", R"({"product_sku":"ABC","permalink":"p","version":"1"})",
                       "No such node (name)"},
        MissingKeyCase{"Permalink", R"({"product_sku":"ABC","name":"n","version":"1"})",
                       "No such node (permalink)"},
        MissingKeyCase{"Version", R"({"product_sku":"ABC","name":"n","permalink":"p"})",
                       "No such node (version)"},
        MissingKeyCase{"SiteLinkWithoutProductPage",
                       R"({"product_sku":"ABC","name":"n","permalink":"p","version":"1",
                           "links":{"other":{"href":"x"}}})",
                       "No such node (resources_site_link)"},
        MissingKeyCase{"SiteLinkWithEmptyProductPage",
                       R"({"product_sku":"ABC","name":"n","permalink":"p","version":"1",
                           "links":{"product_page":{"href":""}}})",
                       "No such node (resources_site_link)"}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

std::string minimalResource(const std::string& extraMembers)
{
    return R"({"product_sku":"ABC","name":"n","permalink":"p","version":"1",)" +
           std::string(R"("resources_site_link":"http://site")") +
           (extraMembers.empty() ? "" : "," + extraMembers) + "}";
}

TEST_F(ProductDescriptionFactoryTest, OptionalKeysTakeTheirDefaults)
{
    ProductDescription description;
    LogCapture log({"description"});

    const bool created = factory.create("ABC", "soft", "1.0",
                                        parseJson(minimalResource(R"("links":{})")), description);
    const std::string text = log.text();

    ASSERT_TRUE(created);
    EXPECT_EQ(description.productPageUrl, "http://site");
    EXPECT_EQ(description.releaseNotesUrl, "");
    EXPECT_EQ(description.platformMinVersion, "");
    EXPECT_EQ(description.platformMaxVersion, "");
    EXPECT_EQ(description.platformDisplayVersion, "");
    EXPECT_EQ(description.size, 0u);
    EXPECT_EQ(description.checksum, "");
    EXPECT_EQ(description.sha256, "");
    EXPECT_EQ(description.signature, "");
    EXPECT_FALSE(fs::exists(folder / "temp"));
    EXPECT_EQ(text.find("Resources Folder not yet defined"), std::string::npos);
}

TEST_F(ProductDescriptionFactoryTest, EmptyReleaseNotesClearAnEarlierAddress)
{
    ProductDescription description;
    description.releaseNotesUrl = "file://temp/OLD.html";
    ASSERT_TRUE(factory.create("ABC", "soft", "1.0",
                               parseJson(minimalResource(R"("release_notes_html":"")")),
                               description));
    EXPECT_EQ(description.releaseNotesUrl, "");
}

class SizeText : public ProductDescriptionFactoryTest,
                 public ::testing::WithParamInterface<std::pair<const char*, std::uint64_t>>
{
};

TEST_P(SizeText, IsReadAsAnUnsignedNumberOrZero)
{
    ProductDescription description;
    ASSERT_TRUE(factory.create(
        "ABC", "soft", "1.0",
        parseJson(minimalResource(std::string("\"size\":") + GetParam().first)), description));
    EXPECT_EQ(description.size, GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(
    ProductDescriptionFactory, SizeText,
    ::testing::Values(std::pair{"123456", 123456u}, std::pair{"\"123456\"", 123456u},
                      std::pair{"\" 123456 \"", 123456u},
                      std::pair{"\"18446744073709551615\"", 18446744073709551615u},
                      std::pair{"\"123abc\"", 0u}, std::pair{"\"\"", 0u}, std::pair{"1.5e3", 0u},
                      std::pair{"\"99999999999999999999999\"", 0u}, std::pair{"{\"a\":1}", 0u},
                      std::pair{"null", 0u}));

TEST_F(ProductDescriptionFactoryTest, ReleaseNotesAreOverwrittenOnEveryPass)
{
    ProductDescription description;
    const std::string longNotes = R"("release_notes_html":"<p>a much longer first text</p>")";
    const std::string shortNotes = R"("release_notes_html":"<p>b</p>")";

    ASSERT_TRUE(
        factory.create("ABC", "soft", "1.0", parseJson(minimalResource(longNotes)), description));
    ASSERT_TRUE(
        factory.create("ABC", "soft", "1.0", parseJson(minimalResource(shortNotes)), description));

    EXPECT_EQ(readFile(folder / "temp" / "ABC.html"), "<p>b</p>");
}

// The copy is only for the user to read: when it cannot be written, or would be written
// through a link, that is logged and the description is made all the same. Nothing
// outside the temp folder is created or changed.
struct UnwritableNotesCase
{
    const char* name;
    // Prepares the situation in the current folder; `elsewhere` is a folder outside it.
    // Returns why this system cannot make the situation, or nothing when it is made.
    std::function<std::string(const fs::path& current, const fs::path& elsewhere)> plant;
    const char* reasonPart;
};

void PrintTo(const UnwritableNotesCase& testCase, std::ostream* out)
{
    *out << testCase.name;
}

// Makes a link, or says why this system made none that a program can see as a link:
// Windows lets only some users make links, and those that Wine makes look like the file
// they name.
std::string plantLink(const fs::path& target, const fs::path& link, bool toFolder)
{
    boost::system::error_code error;
    if (toFolder)
        fs::create_directory_symlink(target, link, error);
    else
        fs::create_symlink(target, link, error);
    if (error)
        return "no link can be made here: " + error.message();
    if (!fs::is_symlink(fs::symlink_status(link)))
        return "the links made here do not show as links";
    return "";
}

class UnwritableNotes : public ProductDescriptionFactoryTest,
                        public ::testing::WithParamInterface<UnwritableNotesCase>
{
protected:
    UnwritableNotes()
    {
        fs::create_directories(elsewhere);
        fs::ofstream(elsewhere / "important.txt") << "kept";
    }

    TempFolder outside;
    fs::path elsewhere = outside / "elsewhere";
};

TEST_P(UnwritableNotes, AreLoggedAndTheDescriptionIsStillMade)
{
    const std::string cannotPlant = GetParam().plant(fs::current_path(), elsewhere);
    if (!cannotPlant.empty())
        GTEST_SKIP() << cannotPlant;
    ProductDescription description;
    LogCapture log({"description"});

    const bool created =
        factory.create("ABC", "soft", "1.0",
                       parseJson(minimalResource(R"("release_notes_html":"<p/>")")), description);
    const std::string text = log.text();

    EXPECT_TRUE(created);
    EXPECT_EQ(description.name, "n");
    EXPECT_EQ(description.permalink, "p");
    EXPECT_EQ(description.releaseNotesUrl, "file://" + (fs::path("temp") / "ABC.html").string());
    const std::string logged = "| description     | error  | Could not save the release notes in " +
                               (fs::path("temp") / "ABC.html").string() + ": ";
    EXPECT_EQ(countOf(text, logged), 1u) << text;
    EXPECT_NE(text.find(GetParam().reasonPart), std::string::npos) << text;
    EXPECT_EQ(readFile(elsewhere / "important.txt"), "kept");
    EXPECT_FALSE(fs::exists(elsewhere / "ABC.html"));
    EXPECT_FALSE(fs::exists(outside / "nowhere"));
}

INSTANTIATE_TEST_SUITE_P(
    ProductDescriptionFactory, UnwritableNotes,
    ::testing::Values(
        UnwritableNotesCase{"NotesFileIsALinkToAFileElsewhere",
                            [](const fs::path& current, const fs::path& elsewhere)
                            {
                                fs::create_directory(current / "temp");
                                return plantLink(elsewhere / "important.txt",
                                                 current / "temp" / "ABC.html", false);
                            },
                            "symbolic link"},
        UnwritableNotesCase{"TempIsALinkToAFolderElsewhere",
                            [](const fs::path& current, const fs::path& elsewhere)
                            { return plantLink(elsewhere, current / "temp", true); },
                            "symbolic link"},
        UnwritableNotesCase{"TempIsADanglingLink",
                            [](const fs::path& current, const fs::path& elsewhere) {
                                return plantLink(elsewhere.parent_path() / "nowhere" / "deeper",
                                                 current / "temp", false);
                            },
                            "symbolic link"},
        UnwritableNotesCase{"TempIsAFile",
                            [](const fs::path& current, const fs::path&)
                            {
                                fs::ofstream(current / "temp")
                                    << "a file where the folder should be";
                                return std::string();
                            },
                            "temp"},
        UnwritableNotesCase{"TempCannotBeCreated",
                            [](const fs::path& current, const fs::path&)
                            {
                                // A current folder that was removed holds nothing new. Windows
                                // removes no folder that a process works in.
                                fs::create_directory(current / "gone");
                                fs::current_path(current / "gone");
                                boost::system::error_code error;
                                fs::remove(current / "gone", error);
                                return error ? "the current folder cannot be removed here: " +
                                                   error.message()
                                             : std::string();
                            },
                            "cannot create the folder"}),
    [](const ::testing::TestParamInfo<UnwritableNotesCase>& testCase)
    { return testCase.param.name; });

TEST(ResourcesSingleton, IsOneInstanceWithAnEmptyFolder)
{
    LogCapture log({"description"});
    Veltora::Resources* first = Veltora::Resources::getInstance();
    const std::string folder = first->folder();
    Veltora::Resources* second = Veltora::Resources::getInstance();
    const std::string text = log.text();

    EXPECT_EQ(first, second);
    EXPECT_EQ(folder, "");
    EXPECT_EQ(countOf(text, "Resources Folder not yet defined"), 1u);
}

} // namespace
