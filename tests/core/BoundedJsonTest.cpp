#include "UpdateManager/core/BoundedJson.h"

#include <boost/property_tree/json_parser.hpp>
#include <gtest/gtest.h>

#include <string>

using namespace Veltora::UpdateManager;
using boost::property_tree::ptree;
using boost::property_tree::json_parser::json_parser_error;

namespace
{

// `element` repeated `count` times inside an array.
std::string arrayOf(const std::string& element, std::size_t count)
{
    std::string text = "[" + element;
    for (std::size_t index = 1; index < count; ++index)
        text += "," + element;
    return text + "]";
}

const JsonBounds small{1000, 3, 10};

struct BoundsCase
{
    const char* name;
    std::string text;
    const char* reason; // nullptr: within the bounds
    unsigned long line;
};

void PrintTo(const BoundsCase& testCase, std::ostream* out)
{
    *out << testCase.name;
}

class JsonWithinBounds : public ::testing::TestWithParam<BoundsCase>
{
};

TEST_P(JsonWithinBounds, IsReadOrRefusedWithTheReason)
{
    const auto& param = GetParam();
    ptree tree;
    tree.put("kept", "yes");
    if (param.reason == nullptr)
    {
        EXPECT_NO_THROW(readBoundedJson(param.text, tree, "answer", small));
        EXPECT_FALSE(tree.get_optional<std::string>("kept"));
        return;
    }
    try
    {
        readBoundedJson(param.text, tree, "answer", small);
        ADD_FAILURE() << "accepted";
    }
    catch (const json_parser_error& error)
    {
        EXPECT_EQ(error.message(), param.reason);
        EXPECT_EQ(error.filename(), "answer");
        EXPECT_EQ(error.line(), param.line);
    }
    EXPECT_EQ(tree.get<std::string>("kept"), "yes");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JsonWithinBounds,
    ::testing::Values(
        BoundsCase{"TenValues", arrayOf("0", 9), nullptr, 0},
        BoundsCase{"ElevenValues", arrayOf("0", 10), "more than 10 values", 1},
        BoundsCase{"EmptyObjectsCount", arrayOf("{}", 5), "more than 10 values", 1},
        BoundsCase{"MembersCount",
                   "{\"a\":1,\"b\":2,\"c\":3,\"d\":4,\"e\":5,\"f\":6,\"g\":7,"
                   "\"h\":8,\"i\":9,\"j\":10}",
                   "more than 10 values", 1},
        BoundsCase{"ThreeLevels", "{\"a\":[{\"b\":1}]}", nullptr, 0},
        BoundsCase{"FourLevels", "{\"a\":[{\"b\":[1]}]}", "nesting deeper than 3 levels", 1},
        BoundsCase{"LineOfTheViolation", "[\n[\n[\n[1]]]]", "nesting deeper than 3 levels", 4},
        BoundsCase{"StringsDoNotCount",
                   "{\"a\":\"[[[[,,,,,,,,,,,,{{{{\\\"[[[[,,,,,,,\\\\\",\"b\":\"]]]]\"}", nullptr,
                   0},
        BoundsCase{"AtTheByteLimit", "\"" + std::string(998, 'x') + "\"", nullptr, 0},
        BoundsCase{"OverTheByteLimit", "\"" + std::string(999, 'x') + "\"",
                   "document larger than 1000 bytes", 1},
        BoundsCase{"SyntaxError", "{\"a\": }", "expected value", 1},
        BoundsCase{"SyntaxErrorOnItsLine", "{\n\"a\":\n,}", "expected value", 3}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(JsonBounds, DefaultsFitRealDocumentsOnly)
{
    const JsonBounds bounds;
    EXPECT_EQ(bounds.maxBytes, 1024u * 1024u);
    EXPECT_EQ(bounds.maxDepth, 256);
    EXPECT_EQ(bounds.maxValues, 20000u);
    ptree tree;
    EXPECT_NO_THROW(readBoundedJson(arrayOf("{\"a\":\"b\"}", 9999), tree));
    EXPECT_THROW(readBoundedJson(arrayOf("0", 20000), tree), json_parser_error);
}

} // namespace
