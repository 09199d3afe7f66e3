#include "UpdateManager/web/CTiming.h"

#include "tests/support/LogCapture.h"
#include "tests/support/TextSearch.h"

#include <gtest/gtest.h>

#include <memory>

using namespace Veltora::Testing;

namespace
{

// A clock that only moves when the test moves it.
std::int64_t fakeTicks = 0;
std::int64_t fakeClock()
{
    return fakeTicks;
}

struct TimingCase
{
    const char* label;
    bool milliseconds;
    std::int64_t ticks;
    std::int64_t expected;
    const char* unit;
};

void PrintTo(const TimingCase& testCase, std::ostream* out)
{
    *out << testCase.label << ", " << testCase.ticks << " ticks";
}

class TimingLog : public ::testing::TestWithParam<TimingCase>
{
};

TEST_P(TimingLog, WritesTheTruncatedDurationAtNoticeLevel)
{
    const auto& param = GetParam();
    LogCapture log({"timing"});
    fakeTicks = 1000000;
    std::int64_t elapsed = 0;
    std::string unit;
    {
        Veltora::CTiming timing(param.label, param.milliseconds, &fakeClock);
        fakeTicks += param.ticks;
        elapsed = timing.elapsed();
        unit = timing.unitName();
    }
    const std::string text = log.text();

    EXPECT_EQ(elapsed, param.expected);
    EXPECT_EQ(unit, param.unit);
    const std::string expectedLine = std::string("| timing          | notice | ") + param.label +
                                     " : " + std::to_string(param.expected) + " " + param.unit +
                                     "\n";
    EXPECT_EQ(countOf(text, expectedLine), 1u) << text;
}

INSTANTIATE_TEST_SUITE_P(CTiming, TimingLog,
                         ::testing::Values(TimingCase{"Complete Scan", true, 15000000, 1500, "ms"},
                                           TimingCase{"micro", false, 25000, 2500, "micros"},
                                           TimingCase{"milli", true, 25000, 2, "ms"},
                                           TimingCase{"backwards", true, -25000, -2, "ms"},
                                           TimingCase{"ProcessProductInfo", true, 0, 0, "ms"}));

TEST(CTiming, LogsNothingWhileTimingIsOff)
{
    LogCapture log({"web"});
    {
        const Veltora::CTiming timing("quiet", true);
    }
    EXPECT_EQ(log.text().find("quiet"), std::string::npos);
}

} // namespace
