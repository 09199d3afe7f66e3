#include "platform/Platform.h"

namespace Veltora::Platform
{
namespace
{
bool isHighSurrogate(char16_t unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool isLowSurrogate(char16_t unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

void appendUtf8(std::string& text, char32_t character)
{
    if (character < 0x80)
    {
        text += static_cast<char>(character);
    }
    else if (character < 0x800)
    {
        text += static_cast<char>(0xC0 | (character >> 6));
        text += static_cast<char>(0x80 | (character & 0x3F));
    }
    else if (character < 0x10000)
    {
        text += static_cast<char>(0xE0 | (character >> 12));
        text += static_cast<char>(0x80 | ((character >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (character & 0x3F));
    }
    else
    {
        text += static_cast<char>(0xF0 | (character >> 18));
        text += static_cast<char>(0x80 | ((character >> 12) & 0x3F));
        text += static_cast<char>(0x80 | ((character >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (character & 0x3F));
    }
}
} // namespace

// Narrow text is UTF-8 here. An unpaired surrogate has no UTF-8 form: the text ends there,
// as a Windows conversion with a NUL default character would end it.
std::string narrowText(const std::u16string& text)
{
    std::string narrow;
    narrow.reserve(text.size());
    for (std::size_t index = 0; index < text.size(); ++index)
    {
        const char16_t unit = text[index];
        if (isHighSurrogate(unit))
        {
            if (index + 1 >= text.size() || !isLowSurrogate(text[index + 1]))
                break;
            const char16_t low = text[++index];
            appendUtf8(narrow, 0x10000 + ((char32_t{unit} - 0xD800) << 10) + (low - 0xDC00));
        }
        else if (isLowSurrogate(unit))
        {
            break;
        }
        else
        {
            appendUtf8(narrow, unit);
        }
    }
    return narrow;
}

} // namespace Veltora::Platform
