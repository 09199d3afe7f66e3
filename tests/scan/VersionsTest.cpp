#include "UpdateManager/scan/Versions.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>

using namespace Veltora::UpdateManager;

namespace
{
constexpr std::uint64_t packed(std::uint64_t a, std::uint64_t b, std::uint64_t c, std::uint64_t d)
{
    return (a << 48) | (b << 32) | (c << 16) | d;
}

struct PackCase
{
    const char* text;
    std::uint64_t expected;

    // Names the case by its text in test listings.
    friend std::ostream& operator<<(std::ostream& out, const PackCase& test)
    {
        return out << '"' << test.text << '"';
    }
};

class PackVersion : public testing::TestWithParam<PackCase>
{
};
} // namespace

TEST_P(PackVersion, ConvertsStrictly)
{
    EXPECT_EQ(packVersion(GetParam().text), GetParam().expected) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Table, PackVersion,
    testing::Values(PackCase{"1.2", packed(1, 2, 0, 0)}, PackCase{"1.2.3.4", packed(1, 2, 3, 4)},
                    PackCase{"1.2.3.4.5", packed(1, 2, 3, 4)},
                    PackCase{"1.2.3.4.x", packed(1, 2, 3, 4)},
                    PackCase{"65535.65535.65535.65535", ~std::uint64_t{0}},
                    PackCase{"+1.2", packed(1, 2, 0, 0)}, PackCase{"-1.0", packed(65535, 0, 0, 0)},
                    PackCase{"-0.1", packed(0, 1, 0, 0)}, PackCase{"0.0", 0}, PackCase{"1..2", 0},
                    PackCase{"1.2a", 0}, PackCase{"70000.1", 0}, PackCase{"65536.0", 0},
                    PackCase{"1. 2", 0}, PackCase{" 1.2", 0}, PackCase{"1.+", 0},
                    PackCase{"1.-", 0}, PackCase{"1.2.", 0}, PackCase{"99999999999999999999.1", 0},
                    PackCase{"7", 0}, PackCase{"", 0}, PackCase{"not_installed", 0},
                    PackCase{"unknown", 0}, PackCase{".", 0}));

TEST(PackVersionOrder, ComparesPiecesAsNumbers)
{
    EXPECT_GT(packVersion("1.10"), packVersion("1.9"));
    EXPECT_GT(packVersion("2.0"), packVersion("1.65535.65535.65535"));
    EXPECT_GT(packVersion("1.0.0.1"), packVersion("1.0"));
    EXPECT_EQ(packVersion("1.2"), packVersion("1.2.0.0"));
}
