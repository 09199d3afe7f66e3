// Confirm files: any text is read without harm, and what the writer writes reads back as
// the fields written.

#include "UpdateManager/install/ConfirmFile.h"
#include "tests/fuzz/FuzzSupport.h"

#include <boost/property_tree/json_parser.hpp>

#include <cstring>

using namespace Veltora::UpdateManager;
using Veltora::Fuzzing::fuzzCheck;

namespace
{
bool sameRecord(const ConfirmRecord& left, const ConfirmRecord& right)
{
    return left.size == right.size && left.checksum == right.checksum;
}

// Whether the JSON reader takes the text as UTF-8: each lead byte followed by as many
// continuation bytes as it announces. The writer copies such bytes as they are.
bool isUtf8(const std::string& text)
{
    for (std::size_t index = 0; index < text.size();)
    {
        const auto lead = static_cast<unsigned char>(text[index++]);
        int trailing = -1;
        if (lead < 0x80)
            trailing = 0;
        else if (lead >= 0xC0 && lead < 0xE0)
            trailing = 1;
        else if (lead >= 0xE0 && lead < 0xF0)
            trailing = 2;
        else if (lead >= 0xF0 && lead < 0xF8)
            trailing = 3;
        for (; trailing > 0; --trailing, ++index)
            if (index >= text.size() || (static_cast<unsigned char>(text[index]) & 0xC0) != 0x80)
                return false;
        if (trailing < 0)
            return false;
    }
    return true;
}

// A written confirm file reads back as the fields written. The updater writes MD5 texts;
// a checksum that is not UTF-8 makes a file that is refused with a parse error when read.
void checkRoundTrip(const ConfirmRecord& record)
{
    const std::string text = confirmFileText(record);
    if (!isUtf8(record.checksum))
    {
        bool refused = false;
        try
        {
            parseConfirmFile(text);
        }
        catch (const boost::property_tree::json_parser_error&)
        {
            refused = true;
        }
        fuzzCheck(refused, "a confirm file with a checksum that is not UTF-8 is refused");
        return;
    }
    fuzzCheck(sameRecord(parseConfirmFile(text), record),
              "a written confirm file reads back as the fields written");
}

// The record the bytes stand for: the first eight as the size, the rest as the checksum.
ConfirmRecord recordOf(const std::uint8_t* data, std::size_t size)
{
    ConfirmRecord record;
    if (size < sizeof record.size)
        return record;
    std::memcpy(&record.size, data, sizeof record.size);
    record.checksum =
        Veltora::Fuzzing::textOf(data + sizeof record.size, size - sizeof record.size);
    return record;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    checkRoundTrip(recordOf(data, size));
    ConfirmRecord parsed;
    try
    {
        parsed = parseConfirmFile(Veltora::Fuzzing::textOf(data, size), "fuzz.confirm");
    }
    catch (const boost::property_tree::json_parser_error&)
    {
        return 0;
    }
    checkRoundTrip(parsed);
    return 0;
}
