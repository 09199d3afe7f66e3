#include "UpdateManager/web/HeaderValues.h"

#include <gtest/gtest.h>

#include <limits>

using namespace Veltora::UpdateManager;

namespace
{

TEST(HeaderValues, ByteCountsAreDecimalDigitsThatFit64Bits)
{
    EXPECT_EQ(byteCount("0"), 0);
    EXPECT_EQ(byteCount("1048576"), 1048576);
    EXPECT_EQ(byteCount("999999999999999999"), 999999999999999999);
    for (const char* refused : {"", "-1", "+1", " 1", "1 ", "0x10", "1e3", "9999999999999999999"})
        EXPECT_FALSE(byteCount(refused).has_value()) << refused;
}

TEST(HeaderValues, ContentRangeNeedsOrderedBoundsInsideItsTotal)
{
    const std::optional<ContentRange> range = parseContentRange("bytes 100-199/1000");
    ASSERT_TRUE(range.has_value());
    EXPECT_EQ(range->first, 100);
    EXPECT_EQ(range->last, 199);
    EXPECT_EQ(range->total, 1000);
    EXPECT_EQ(parseContentRange("BYTES 0-0/*")->total, -1);
    for (const char* refused : {"bytes 5-4/10", "bytes 0-10/10", "bytes -1-4/10", "bytes 0-4",
                                "items 0-4/10", "bytes 0/4-10", "bytes 0-4/"})
        EXPECT_FALSE(parseContentRange(refused).has_value()) << refused;
}

struct UnsatisfiableCase
{
    const char* value;
    bool hasTotal;
    std::optional<std::uint64_t> total;
};

class UnsatisfiableTotal : public ::testing::TestWithParam<UnsatisfiableCase>
{
};

// A total that is not plain digits is no total: neither the digits before a stray
// character nor a negative number read as a huge size.
TEST_P(UnsatisfiableTotal, IsTheDecimalNumberAfterTheLastSlash)
{
    const UnsatisfiableRange range = parseUnsatisfiableRange(GetParam().value);
    EXPECT_EQ(range.hasTotal, GetParam().hasTotal);
    EXPECT_EQ(range.total, GetParam().total);
}

INSTANTIATE_TEST_SUITE_P(
    Values, UnsatisfiableTotal,
    ::testing::Values(UnsatisfiableCase{"bytes */1048576", true, 1048576},
                      UnsatisfiableCase{"bytes */0", true, 0},
                      UnsatisfiableCase{"bytes */18446744073709551615", true,
                                        std::numeric_limits<std::uint64_t>::max()},
                      UnsatisfiableCase{"bytes */18446744073709551616", true, std::nullopt},
                      UnsatisfiableCase{"bytes */1:48576", true, std::nullopt},
                      UnsatisfiableCase{"bytes */-1", true, std::nullopt},
                      UnsatisfiableCase{"bytes */+5", true, std::nullopt},
                      UnsatisfiableCase{"bytes */ 5", true, std::nullopt},
                      UnsatisfiableCase{"bytes */*", true, std::nullopt},
                      UnsatisfiableCase{"bytes */", true, std::nullopt},
                      UnsatisfiableCase{"bytes 0-1", false, std::nullopt}),
    [](const auto& testCase) { return "Value" + std::to_string(testCase.index); });

} // namespace
