#include "platform/Platform.h"
#include "platform/windows/AnsiText.h"

#include <climits>

namespace Veltora::Platform
{
namespace Windows
{

// Best-fit mapping would turn a character the code page lacks into a look-alike (another
// path, another text), so it is switched off and such characters count as unconvertible.
// UTF-8 as the ANSI code page holds every character; there only invalid UTF-16 fails, and
// the default-character arguments are not allowed.
int toAnsi(const wchar_t* text, int length, char* output, int outputSize, bool& exact)
{
    const bool utf8CodePage = GetACP() == CP_UTF8;
    static const char nulCharacter = '\0';
    BOOL usedDefaultCharacter = FALSE;
    const int written = WideCharToMultiByte(
        CP_ACP, utf8CodePage ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS, text, length, output,
        outputSize, utf8CodePage ? nullptr : &nulCharacter,
        utf8CodePage ? nullptr : &usedDefaultCharacter);
    exact = written > 0 && !usedDefaultCharacter;
    return written;
}

bool toWidePath(const std::string& path, std::wstring& wide)
{
    if (path.empty() || path.size() > INT_MAX || path.find('\0') != std::string::npos)
        return false;
    const int size = static_cast<int>(path.size());
    const int length = MultiByteToWideChar(CP_ACP, 0, path.data(), size, nullptr, 0);
    if (length <= 0)
        return false;
    wide.assign(static_cast<std::size_t>(length), L'\0');
    return MultiByteToWideChar(CP_ACP, 0, path.data(), size, wide.data(), length) == length;
}

} // namespace Windows

namespace
{
bool isHighSurrogate(wchar_t unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool isLowSurrogate(wchar_t unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

bool convertsExactly(const wchar_t* text, std::size_t length)
{
    bool exact = false;
    Windows::toAnsi(text, static_cast<int>(length), nullptr, 0, exact);
    return exact;
}

// How many units from the start convert exactly; a surrogate pair is one character.
std::size_t convertiblePrefixLength(const std::wstring& text)
{
    if (convertsExactly(text.data(), text.size()))
        return text.size();
    std::size_t index = 0;
    while (index < text.size())
    {
        const bool pair = isHighSurrogate(text[index]) && index + 1 < text.size() &&
                          isLowSurrogate(text[index + 1]);
        const std::size_t width = pair ? 2 : 1;
        if (!convertsExactly(text.data() + index, width))
            break;
        index += width;
    }
    return index;
}
} // namespace

std::string narrowText(const std::u16string& text)
{
    // Beyond what one conversion call can take (far beyond any path or registry value).
    if (text.empty() || text.size() > INT_MAX / 4)
        return std::string();
    const std::wstring wide(text.begin(), text.end());
    const int length = static_cast<int>(convertiblePrefixLength(wide));
    if (length == 0)
        return std::string();
    bool exact = false;
    const int size = Windows::toAnsi(wide.data(), length, nullptr, 0, exact);
    std::string narrow(static_cast<std::size_t>(size), '\0');
    Windows::toAnsi(wide.data(), length, narrow.data(), size, exact);
    return narrow;
}

} // namespace Veltora::Platform
