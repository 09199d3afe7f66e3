#include "UpdateManager/web/LowSpeedLimit.h"

#include <gtest/gtest.h>

using namespace Veltora::UpdateManager;

namespace
{

TEST(LowSpeedLimit, DefaultsToOneKibibyteInThirtySeconds)
{
    const LowSpeedLimit limit;
    EXPECT_EQ(limit.bytes, 1024);
    EXPECT_EQ(limit.window, std::chrono::seconds(30));
}

TEST(LowSpeedLimit, ReadsBytesAndSeconds)
{
    const auto limit = LowSpeedLimit::parse("4096/5");
    ASSERT_TRUE(limit);
    EXPECT_EQ(limit->bytes, 4096);
    EXPECT_EQ(limit->window, std::chrono::seconds(5));
}

class MalformedLowSpeedLimit : public ::testing::TestWithParam<const char*>
{
};

TEST_P(MalformedLowSpeedLimit, IsRefused)
{
    EXPECT_FALSE(LowSpeedLimit::parse(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Texts, MalformedLowSpeedLimit,
                         ::testing::Values("", "4096", "4096/", "/5", "0/5", "4096/0", "-1/5",
                                           "4096/-5", "4096/5s", " 4096/5", "4096/5/1", "1.5/5",
                                           "4096/86401", "99999999999999999999/5"));

} // namespace
