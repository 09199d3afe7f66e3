#include "tools/loopback_server/ContentPart.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

using Veltora::LoopbackServer::ContentPart;

namespace
{
struct RangeCase
{
    std::string name;
    std::uint64_t size;
    std::optional<std::string> field;
    int status;
    std::uint64_t first;
    std::uint64_t length;
    std::optional<std::string> contentRange;
};

void PrintTo(const RangeCase& row, std::ostream* out)
{
    *out << row.name;
}

class ContentPartOfRange : public testing::TestWithParam<RangeCase>
{
};

TEST_P(ContentPartOfRange, IsWhatAFileServerSends)
{
    const RangeCase& row = GetParam();
    const ContentPart part = ContentPart::of(row.size, row.field);
    EXPECT_EQ(part.status, row.status);
    EXPECT_EQ(part.first, row.first);
    EXPECT_EQ(part.length, row.length);
    EXPECT_EQ(part.contentRange, row.contentRange);
}

INSTANTIATE_TEST_SUITE_P(
    LoopbackServer, ContentPartOfRange,
    testing::Values(RangeCase{"no_field", 10, std::nullopt, 200, 0, 10, std::nullopt},
                    RangeCase{"from_the_start", 10, "bytes=0-", 206, 0, 10, "bytes 0-9/10"},
                    RangeCase{"to_the_end", 10, "bytes=4-", 206, 4, 6, "bytes 4-9/10"},
                    RangeCase{"closed", 10, "bytes=5-7", 206, 5, 3, "bytes 5-7/10"},
                    RangeCase{"past_the_end_clipped", 10, "bytes=5-100", 206, 5, 5, "bytes 5-9/10"},
                    RangeCase{"one_byte", 10, "bytes=9-9", 206, 9, 1, "bytes 9-9/10"},
                    RangeCase{"at_the_end", 10, "bytes=10-", 416, 0, 0, "bytes */10"},
                    RangeCase{"of_an_empty_file", 0, "bytes=0-", 416, 0, 0, "bytes */0"},
                    RangeCase{"not_a_number", 10, "bytes=x-", 200, 0, 10, std::nullopt},
                    RangeCase{"suffix", 10, "bytes=-3", 200, 0, 10, std::nullopt},
                    RangeCase{"backwards", 10, "bytes=5-3", 200, 0, 10, std::nullopt},
                    RangeCase{"several", 10, "bytes=1-2,4-5", 200, 0, 10, std::nullopt},
                    RangeCase{"signed", 10, "bytes=+5-", 200, 0, 10, std::nullopt},
                    RangeCase{"blank_before_the_number", 10, "bytes= 5-", 200, 0, 10, std::nullopt},
                    RangeCase{"too_long_to_fit", 10, "bytes=99999999999999999999-", 200, 0, 10,
                              std::nullopt},
                    RangeCase{"other_unit", 10, "items=1-", 200, 0, 10, std::nullopt}),
    [](const testing::TestParamInfo<RangeCase>& row) { return row.param.name; });

} // namespace
