#include "UpdateManager/web/ResourceList.h"
#include "UpdateManager/web/WebRequest.h"

#include "tests/support/HttpTestServer.h"
#include "tests/support/JsonTree.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TextSearch.h"

#include <gtest/gtest.h>

using namespace Veltora::UpdateManager;
using namespace Veltora::Testing;

namespace
{

// The log line holding `message`, or an empty text.
std::string lineWith(const std::string& log, const std::string& message)
{
    const auto at = log.find(message);
    if (at == std::string::npos)
        return {};
    const auto begin = log.rfind('\n', at) + 1;
    return log.substr(begin, log.find('\n', at) - begin);
}

TEST(MakeResourcesPath, PutsTheTypeBeforeTheSku)
{
    EXPECT_EQ(makeResourcesPath("ABC", "soft", "windows", "latest"),
              "/api/resources/soft/ABC/windows/latest");
    EXPECT_EQ(makeResourcesPath("a b", "", "linux", "x/y"), "/api/resources//a b/linux/x/y");
}

struct EnvelopeCase
{
    const char* name;
    const char* json;
    bool valid;
    const char* firstSku; // product_sku of the kept resource when valid
    const char* level;    // level name of the one message, or nullptr for none
    const char* message;  // the message text (prefix)
};

void PrintTo(const EnvelopeCase& testCase, std::ostream* out)
{
    *out << testCase.name;
}

class Envelope : public ::testing::TestWithParam<EnvelopeCase>
{
};

TEST_P(Envelope, IsCheckedAndReported)
{
    const auto& param = GetParam();
    const auto answer = parseJson(param.json);
    LogCapture log({"update_manager"});

    const ResourceList list(answer);
    const bool valid = list.isValid();
    const auto first = list.firstResource();
    const std::string text = log.text();

    EXPECT_EQ(valid, param.valid);
    if (param.valid)
    {
        EXPECT_EQ(first.get<std::string>("product_sku"), param.firstSku);
    }
    else
    {
        EXPECT_TRUE(first.empty());
    }
    if (param.message == nullptr)
    {
        EXPECT_EQ(text.find("| update_manager"), std::string::npos) << text;
    }
    else
    {
        const std::string line = lineWith(text, param.message);
        EXPECT_NE(line.find(std::string("| update_manager  | ") + param.level), std::string::npos)
            << text;
        EXPECT_EQ(countOf(text, "| update_manager"), 1u) << text;
    }
}

INSTANTIATE_TEST_SUITE_P(
    ResourceList, Envelope,
    ::testing::Values(
        EnvelopeCase{"TotalAsText", R"({"total":"1","resources":[{"product_sku":"A"}]})", true, "A",
                     nullptr, nullptr},
        EnvelopeCase{"TotalAsNumberWithBlanks",
                     R"({"total":" 1 ","resources":[{"product_sku":"A"}],"extra":1})", true, "A",
                     nullptr, nullptr},
        EnvelopeCase{"OnlyTheFirstOfSeveralIsKept",
                     R"({"total":2,"resources":[{"product_sku":"A"},{"product_sku":"B"}]})", true,
                     "A", nullptr, nullptr},
        EnvelopeCase{"ResourcesAsObject", R"({"total":1,"resources":{"x":{"product_sku":"C"}}})",
                     true, "C", nullptr, nullptr},
        EnvelopeCase{"CountBelowTotal", R"({"total":2,"resources":[{"product_sku":"A"}]})", false,
                     nullptr, "error", "Invalid resources: got 1 while total indicates 2\n"},
        EnvelopeCase{"CountAboveTotal", R"({"total":-1,"resources":[{},{}]})", false, nullptr,
                     "error", "Invalid resources: got 2 while total indicates -1\n"},
        EnvelopeCase{"EmptyArray", R"({"total":0,"resources":[]})", false, nullptr, "warning",
                     "Resource is empty\n"},
        EnvelopeCase{"ResourcesAsString", R"({"total":1,"resources":"many"})", false, nullptr,
                     "warning", "Resource is empty\n"},
        EnvelopeCase{"ResourcesAsNumber", R"({"total":1,"resources":7})", false, nullptr, "warning",
                     "Resource is empty\n"},
        EnvelopeCase{"TotalNotAnInteger", R"({"total":1.0,"resources":[{}]})", false, nullptr,
                     "error", "Error in resource parsing: "},
        EnvelopeCase{"TotalTooLarge", R"({"total":99999999999,"resources":[{}]})", false, nullptr,
                     "error", "Error in resource parsing: "},
        EnvelopeCase{"TotalAnObject", R"({"total":{"n":1},"resources":[{}]})", false, nullptr,
                     "error", "Error in resource parsing: "},
        EnvelopeCase{"TotalMissing", R"({"resources":[{}]})", false, nullptr, "error",
                     "Error in resource parsing: No such node (total)"},
        EnvelopeCase{"ResourcesMissing", R"({"total":1})", false, nullptr, "error",
                     "Error in resource parsing: No such node (resources)"},
        EnvelopeCase{"TopLevelArray", R"([1,2])", false, nullptr, "error",
                     "Error in resource parsing: "}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(ResourcesQuery, AsksTheServerForTheLatestReleaseOfTheProduct)
{
    HttpTestServer server;
    server.serveJson("/api/resources/soft/ABC/windows/latest",
                     R"({"total":"1","resources":[{"product_sku":"ABC","version":"2.0"}]})");
    WebRequest request;
    boost::property_tree::ptree answer;

    ASSERT_TRUE(request.getJson(
        server.hostAndPort() + makeResourcesPath("ABC", "soft", "windows", "latest"), answer));
    const ResourceList list(answer);

    ASSERT_TRUE(list.isValid());
    EXPECT_EQ(list.firstResource().get<std::string>("version"), "2.0");
    EXPECT_EQ(server.lastRequest().target, "/api/resources/soft/ABC/windows/latest");
    EXPECT_EQ(server.lastRequest().header("Host"), server.hostAndPort());
}

TEST(ResourcesQuery, AServerTextEndingInASlashGivesADoubleSlash)
{
    HttpTestServer server;
    server.serveJson("//api/resources/soft/ABC/windows/latest", "{}");
    WebRequest request;
    boost::property_tree::ptree answer;

    EXPECT_TRUE(request.getJson(server.hostAndPort() + "/" +
                                    makeResourcesPath("ABC", "soft", "windows", "latest"),
                                answer));
    EXPECT_EQ(server.lastRequest().target, "//api/resources/soft/ABC/windows/latest");
}

} // namespace
