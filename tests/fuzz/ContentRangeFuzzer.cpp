// The response header values the download interprets: Content-Length, the Content-Range of
// a 206 answer and the total of a 416 answer.

#include "UpdateManager/web/HeaderValues.h"
#include "tests/fuzz/FuzzSupport.h"

using namespace Veltora::UpdateManager;
using Veltora::Fuzzing::fuzzCheck;

namespace
{
bool allDigits(const std::string& text)
{
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

void checkByteCount(const std::string& value)
{
    const std::optional<std::int64_t> count = byteCount(value);
    if (!count)
        return;
    fuzzCheck(allDigits(value) && *count >= 0, "a byte count is written in digits only");
    fuzzCheck(byteCount(std::to_string(*count)) == count, "a byte count round-trips");
}

void checkContentRange(const std::string& value)
{
    const std::optional<ContentRange> range = parseContentRange(value);
    if (!range)
        return;
    fuzzCheck(range->first >= 0 && range->last >= range->first, "a range is not reversed");
    fuzzCheck(range->total == -1 || range->last < range->total, "a range lies inside its total");
    const std::string total = range->total < 0 ? "*" : std::to_string(range->total);
    const std::string canonical =
        "bytes " + std::to_string(range->first) + "-" + std::to_string(range->last) + "/" + total;
    const std::optional<ContentRange> again = parseContentRange(canonical);
    fuzzCheck(again && again->first == range->first && again->last == range->last &&
                  again->total == range->total,
              "a range round-trips through its canonical text");
}

std::string withoutLeadingZeros(const std::string& digits)
{
    const auto first = digits.find_first_not_of('0');
    return first == std::string::npos ? "0" : digits.substr(first);
}

void checkUnsatisfiableRange(const std::string& value)
{
    const UnsatisfiableRange range = parseUnsatisfiableRange(value);
    const auto slash = value.rfind('/');
    fuzzCheck(range.hasTotal == (slash != std::string::npos), "a total follows a slash");
    if (!range.total)
        return;
    const std::string digits = value.substr(slash + 1);
    fuzzCheck(allDigits(digits) && std::to_string(*range.total) == withoutLeadingZeros(digits),
              "a 416 total is the decimal number after the last slash");
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string value = Veltora::Fuzzing::textOf(data, size);
    checkByteCount(value);
    checkContentRange(value);
    checkUnsatisfiableRange(value);
    return 0;
}
