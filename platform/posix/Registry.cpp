#include "platform/Platform.h"
#include "platform/posix/Environment.h"

#include <fstream>
#include <optional>

// Registry values come from the hive text files that Wine keeps in its prefix:
// system.reg holds HKEY_LOCAL_MACHINE (and HKEY_CLASSES_ROOT under Software\Classes),
// user.reg holds HKEY_CURRENT_USER. A key starts with a line "[Key\\Path] stamp"; its
// values follow as "name"=data lines ("@" names the default value). Only quoted data is a
// string (REG_SZ); str(2):, dword:, hex...: data are other types. Names compare without
// regard to case, as the registry does.
namespace Veltora::Platform
{
namespace
{
// The registry's value buffer: 4096 bytes of UTF-16 including the terminator, and the
// narrow text converted into 2048 bytes including its terminator.
constexpr std::size_t maxValueUnits = 2048;
constexpr std::size_t maxNarrowBytes = 2047;

std::optional<std::string> hiveFile(RegistryRoot root)
{
    std::string prefix;
    if (const std::optional<std::string> winePrefix = environmentValue("WINEPREFIX"))
        prefix = *winePrefix;
    else if (const std::optional<std::string> home = environmentValue("HOME"))
        prefix = *home + "/.wine";
    else
        return std::nullopt;
    return prefix + (root == RegistryRoot::CurrentUser ? "/user.reg" : "/system.reg");
}

std::u16string keyInHive(RegistryRoot root, const std::u16string& subKey)
{
    if (root != RegistryRoot::ClassesRoot)
        return subKey;
    return subKey.empty() ? u"Software\\Classes" : u"Software\\Classes\\" + subKey;
}

char16_t foldCase(char16_t unit)
{
    const bool asciiUpper = unit >= u'A' && unit <= u'Z';
    const bool latinUpper = unit >= 0xC0 && unit <= 0xDE && unit != 0xD7;
    return asciiUpper || latinUpper ? static_cast<char16_t>(unit + 0x20) : unit;
}

bool equalIgnoringCase(const std::u16string& left, const std::u16string& right)
{
    if (left.size() != right.size())
        return false;
    for (std::size_t index = 0; index < left.size(); ++index)
        if (foldCase(left[index]) != foldCase(right[index]))
            return false;
    return true;
}

std::size_t utf8SequenceLength(unsigned char lead)
{
    if (lead < 0x80)
        return 1;
    if ((lead & 0xE0) == 0xC0)
        return 2;
    if ((lead & 0xF0) == 0xE0)
        return 3;
    if ((lead & 0xF8) == 0xF0)
        return 4;
    return 0;
}

void appendUtf16(std::u16string& text, char32_t character)
{
    if (character < 0x10000)
    {
        text += static_cast<char16_t>(character);
        return;
    }
    text += static_cast<char16_t>(0xD800 + ((character - 0x10000) >> 10));
    text += static_cast<char16_t>(0xDC00 + ((character - 0x10000) & 0x3FF));
}

// The hive text is UTF-8; a byte that does not start a valid sequence stands for itself.
std::u16string decodeLine(const std::string& line)
{
    std::u16string text;
    text.reserve(line.size());
    for (std::size_t index = 0; index < line.size();)
    {
        const auto lead = static_cast<unsigned char>(line[index]);
        const std::size_t length = utf8SequenceLength(lead);
        bool valid = length > 1 && index + length <= line.size();
        char32_t character = lead & (0x7Fu >> length);
        for (std::size_t next = 1; valid && next < length; ++next)
        {
            const auto unit = static_cast<unsigned char>(line[index + next]);
            valid = (unit & 0xC0) == 0x80;
            character = (character << 6) | (unit & 0x3Fu);
        }
        if (!valid || character > 0x10FFFF)
        {
            text += static_cast<char16_t>(lead);
            ++index;
            continue;
        }
        appendUtf16(text, character);
        index += length;
    }
    return text;
}

int digitValue(char16_t unit, int base)
{
    int value = base;
    if (unit >= u'0' && unit <= u'9')
        value = unit - u'0';
    else if (unit >= u'a' && unit <= u'f')
        value = unit - u'a' + 10;
    else if (unit >= u'A' && unit <= u'F')
        value = unit - u'A' + 10;
    return value < base ? value : -1;
}

// Up to `maxDigits` digits of `base` from `position` on, as one UTF-16 unit.
std::optional<char16_t> escapedNumber(const std::u16string& text, std::size_t& position, int base,
                                      int maxDigits)
{
    unsigned value = 0;
    int digits = 0;
    for (; digits < maxDigits && position < text.size(); ++digits, ++position)
    {
        const int digit = digitValue(text[position], base);
        if (digit < 0)
            break;
        value = value * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
    }
    if (digits == 0)
        return std::nullopt;
    return static_cast<char16_t>(value);
}

// One escape sequence after a backslash: C escapes, \xHHHH, \OOO, or the character itself
// (\\, \", \[, \]). `position` is on the character after the backslash.
char16_t decodeEscape(const std::u16string& text, std::size_t& position)
{
    const char16_t escaped = text[position++];
    switch (escaped)
    {
    case u'a':
        return 0x07;
    case u'b':
        return 0x08;
    case u'e':
        return 0x1B;
    case u'f':
        return 0x0C;
    case u'n':
        return 0x0A;
    case u'r':
        return 0x0D;
    case u't':
        return 0x09;
    case u'v':
        return 0x0B;
    case u'x':
        if (const std::optional<char16_t> unit = escapedNumber(text, position, 16, 4))
            return *unit;
        return escaped;
    default:
        break;
    }
    if (digitValue(escaped, 8) >= 0)
    {
        --position;
        return *escapedNumber(text, position, 8, 3);
    }
    return escaped;
}

// The text from `position` (just after the opening delimiter) up to the first unescaped
// `terminator`, escapes decoded; `position` ends after the terminator. Nothing when the
// line ends first.
std::optional<std::u16string> delimitedText(const std::u16string& line, std::size_t& position,
                                            char16_t terminator)
{
    std::u16string text;
    while (position < line.size())
    {
        const char16_t unit = line[position++];
        if (unit == terminator)
            return text;
        if (unit != u'\\')
        {
            text += unit;
            continue;
        }
        if (position >= line.size())
            return std::nullopt;
        text += decodeEscape(line, position);
    }
    return std::nullopt;
}

std::optional<std::u16string> keyOfHeader(const std::u16string& line)
{
    std::size_t position = 1;
    return delimitedText(line, position, u']');
}

enum class ValueLookup
{
    OtherValue,
    NotAString,
    Found
};

// A value line of the current key: is it `valueName`, and if so is it a string?
ValueLookup readValueLine(const std::u16string& line, const std::u16string& valueName,
                          std::u16string& value)
{
    std::size_t position = 1;
    std::u16string name;
    if (line[0] == u'"')
    {
        std::optional<std::u16string> quoted = delimitedText(line, position, u'"');
        if (!quoted)
            return ValueLookup::OtherValue;
        name = std::move(*quoted);
    }
    if (!equalIgnoringCase(name, valueName) || position >= line.size() || line[position] != u'=')
        return ValueLookup::OtherValue;
    ++position;
    if (position >= line.size() || line[position] != u'"')
        return ValueLookup::NotAString;
    ++position;
    std::optional<std::u16string> data = delimitedText(line, position, u'"');
    if (!data)
        return ValueLookup::NotAString;
    value = std::move(*data);
    return ValueLookup::Found;
}

std::optional<std::u16string> findStringValue(const std::string& file, const std::u16string& key,
                                              const std::u16string& valueName)
{
    std::ifstream hive(file, std::ios::binary);
    std::string rawLine;
    bool inKey = false;
    while (std::getline(hive, rawLine))
    {
        if (!rawLine.empty() && rawLine.back() == '\r')
            rawLine.pop_back();
        if (rawLine.empty())
            continue;
        if (rawLine[0] == '[')
        {
            const std::optional<std::u16string> header = keyOfHeader(decodeLine(rawLine));
            inKey = header && equalIgnoringCase(*header, key);
            continue;
        }
        if (!inKey || (rawLine[0] != '"' && rawLine[0] != '@'))
            continue;
        std::u16string value;
        switch (readValueLine(decodeLine(rawLine), valueName, value))
        {
        case ValueLookup::Found:
            return value;
        case ValueLookup::NotAString:
            return std::nullopt;
        case ValueLookup::OtherValue:
            break;
        }
    }
    return std::nullopt;
}
} // namespace

bool readRegistryValue(RegistryRoot root, const std::u16string& subKey,
                       const std::u16string& valueName, std::string& value)
{
    const std::optional<std::string> file = hiveFile(root);
    if (!file)
        return false;
    const std::optional<std::u16string> stored =
        findStringValue(*file, keyInHive(root, subKey), valueName);
    // The stored data carries its terminator, which must fit in the buffer as well.
    if (!stored || stored->size() + 1 > maxValueUnits)
        return false;
    const std::string narrow = narrowText(stored->substr(0, stored->find(u'\0')));
    if (narrow.size() > maxNarrowBytes)
        return false;
    value = narrow;
    return true;
}

} // namespace Veltora::Platform
