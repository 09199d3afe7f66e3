#include "UpdateManager/core/ProductDescription.h"

#include "platform/Platform.h"

#include <gtest/gtest.h>

#include <array>
#include <stdexcept>

using namespace Veltora::UpdateManager;
namespace Platform = Veltora::Platform;

namespace
{

struct PlatformCase
{
    const char* name;
    const char* minimum;
    const char* maximum;
    std::array<unsigned, 3> running; // major, minor, service pack
    bool supported;
};

void PrintTo(const PlatformCase& testCase, std::ostream* out)
{
    *out << testCase.name;
}

// Each case runs against an injected running version, never the machine's own.
class PlatformSupport : public ::testing::TestWithParam<PlatformCase>
{
protected:
    ~PlatformSupport() override { Platform::clearOsVersionOverrideForTesting(); }
};

TEST_P(PlatformSupport, ComparesTheRunningVersionWithTheLimits)
{
    const auto& param = GetParam();
    Platform::overrideOsVersionForTesting(param.running[0], param.running[1], param.running[2]);
    ProductDescription description;
    description.platformMinVersion = param.minimum;
    description.platformMaxVersion = param.maximum;

    EXPECT_EQ(description.isPlatformSupported(), param.supported);
}

INSTANTIATE_TEST_SUITE_P(
    ProductDescription, PlatformSupport,
    ::testing::Values(
        PlatformCase{"NoLimits", "", "", {6, 1, 0}, true},
        PlatformCase{"MinimumMet", "6.1", "", {6, 1, 0}, true},
        PlatformCase{"MinimumMissed", "6.1", "", {6, 0, 0}, false},
        PlatformCase{"MinimumMetByALaterMajor", "6.1", "", {10, 0, 0}, true},
        PlatformCase{"MinimumMetByALaterMinorWithLowerServicePack", "6.1.2", "", {6, 2, 0}, true},
        PlatformCase{"MinimumServicePackMissed", "6.1.2", "", {6, 1, 1}, false},
        PlatformCase{"MinimumTenOnSeven", "10", "", {6, 1, 0}, false},
        PlatformCase{"MinimumWithLeadingBlank", " 6.1", "", {6, 1, 0}, true},
        PlatformCase{"MinimumWithPlusSign", "+6.+1", "", {6, 1, 0}, true},
        PlatformCase{"MaximumAdmitsAnyServicePack", "", "6.1", {6, 1, 1}, true},
        PlatformCase{"MaximumRejectsTheNextMinor", "", "6.1", {6, 2, 0}, false},
        PlatformCase{"MaximumWithServicePackZero", "", "6.1.0", {6, 1, 0}, true},
        PlatformCase{"MaximumWithServicePackZeroRejectsOne", "", "6.1.0", {6, 1, 1}, false},
        PlatformCase{"MaximumServicePackOneAdmitsOne", "", "6.1.1", {6, 1, 1}, true},
        PlatformCase{"MaximumMajorOnlyAdmitsEveryMinor", "", "6", {6, 9, 3}, true},
        PlatformCase{"MaximumMajorOnlyRejectsTheNextMajor", "", "6", {7, 0, 0}, false},
        PlatformCase{"MinimumAboveMaximum", "6.1", "6.0", {6, 1, 0}, false},
        PlatformCase{"WithinBoth", "6.1", "10.0", {6, 3, 0}, true},
        PlatformCase{"ComponentsBeyondTheThirdIgnored", "6.1.0.x", "6.1.0.y", {6, 1, 0}, true},
        PlatformCase{"ComponentTruncatedTo16Bits", "65542.1", "", {6, 1, 0}, true},
        PlatformCase{"MinimumOutOfRange", "6.4294967296", "", {6, 1, 0}, false},
        PlatformCase{"MaximumOutOfRange", "", "4294967296", {6, 1, 0}, false},
        PlatformCase{"LargestComponentInRange", "4294967295", "", {65535, 0, 0}, true},
        PlatformCase{"NegativeComponentWrapsAsUnsigned", "-1", "", {65535, 0, 0}, true},
        PlatformCase{"NegativeComponentBeyond32Bits", "-4294967296", "", {65535, 0, 0}, false}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(PlatformSupportErrors, AComponentWithoutDigitsReachesTheCaller)
{
    Platform::overrideOsVersionForTesting(6, 1, 0);
    const std::pair<const char*, const char*> limits[] = {
        {"6..1", ""},
        {"six", ""},
        {"6.", ""},
        {"", "6.1.x"},
        {"", ".1"},
        // the maximum is still parsed when the minimum already failed
        {"7.0", "6.one"},
    };
    for (const auto& [minimum, maximum] : limits)
    {
        ProductDescription description;
        description.platformMinVersion = minimum;
        description.platformMaxVersion = maximum;
        try
        {
            description.isPlatformSupported();
            ADD_FAILURE() << "no error for \"" << minimum << "\", \"" << maximum << "\"";
        }
        catch (const std::invalid_argument& error)
        {
            EXPECT_STREQ(error.what(), "invalid stoul argument");
        }
    }
    Platform::clearOsVersionOverrideForTesting();
}

TEST(OsVersion, RunningSystemLiesBetweenTheExtremes)
{
    Platform::clearOsVersionOverrideForTesting();
    EXPECT_TRUE(Platform::isOsVersionAtLeast(0, 0, 0));
    EXPECT_FALSE(Platform::isOsVersionAtLeast(65535, 65535, 65535));
}

TEST(OsVersion, OverrideIsComparedMajorFirstAndCanBeCleared)
{
    Platform::overrideOsVersionForTesting(6, 2, 0);
    EXPECT_TRUE(Platform::isOsVersionAtLeast(6, 1, 5));
    EXPECT_TRUE(Platform::isOsVersionAtLeast(6, 2, 0));
    EXPECT_FALSE(Platform::isOsVersionAtLeast(6, 2, 1));
    EXPECT_FALSE(Platform::isOsVersionAtLeast(7, 0, 0));
    Platform::clearOsVersionOverrideForTesting();
    EXPECT_FALSE(Platform::isOsVersionAtLeast(65535, 65535, 65535));
}

} // namespace
