#include "UpdateManager/signing/Base64.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace Veltora::UpdateManager
{
namespace
{
constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr int notInAlphabet = -1;

constexpr std::array<int, 256> makeDecodingTable()
{
    std::array<int, 256> table{};
    for (int& entry : table)
        entry = notInAlphabet;
    for (int index = 0; index < 64; ++index)
        table[static_cast<unsigned char>(alphabet[index])] = index;
    return table;
}
constexpr std::array<int, 256> decodingTable = makeDecodingTable();

int valueOf(char character)
{
    return decodingTable[static_cast<unsigned char>(character)];
}

// Decodes one group of four characters, of which the last `padding` are "=", into
// 3 - padding bytes; false when a character is not in the alphabet or the bits the group
// does not use are set.
bool decodeGroup(const char* group, int padding, std::string& bytes)
{
    std::uint32_t bits = 0;
    for (int index = 0; index < 4; ++index)
    {
        const int value = index < 4 - padding ? valueOf(group[index]) : 0;
        if (value == notInAlphabet)
            return false;
        bits = (bits << 6) | static_cast<std::uint32_t>(value);
    }
    const std::uint32_t unusedBits = padding == 2 ? 0xFFFFu : padding == 1 ? 0xFFu : 0u;
    if ((bits & unusedBits) != 0)
        return false;
    for (int index = 0; index < 3 - padding; ++index)
        bytes += static_cast<char>((bits >> (16 - 8 * index)) & 0xFF);
    return true;
}

int paddingOf(const std::string& text)
{
    if (text.size() >= 2 && text.compare(text.size() - 2, 2, "==") == 0)
        return 2;
    return !text.empty() && text.back() == '=' ? 1 : 0;
}
} // namespace

std::string encodeBase64(const std::string& bytes)
{
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t at = 0; at < bytes.size(); at += 3)
    {
        const std::size_t present = std::min<std::size_t>(3, bytes.size() - at);
        std::uint32_t bits = 0;
        for (std::size_t index = 0; index < 3; ++index)
        {
            const auto byte = index < present ? static_cast<unsigned char>(bytes[at + index]) : 0u;
            bits = (bits << 8) | byte;
        }
        for (std::size_t index = 0; index < 4; ++index)
            text += index <= present ? alphabet[(bits >> (18 - 6 * index)) & 0x3F] : '=';
    }
    return text;
}

std::optional<std::string> decodeBase64(const std::string& text)
{
    if (text.size() % 4 != 0)
        return std::nullopt;
    const int padding = paddingOf(text);
    std::string bytes;
    bytes.reserve(text.size() / 4 * 3);
    for (std::size_t at = 0; at < text.size(); at += 4)
    {
        const bool lastGroup = at + 4 == text.size();
        if (!decodeGroup(text.data() + at, lastGroup ? padding : 0, bytes))
            return std::nullopt;
    }
    return bytes;
}

} // namespace Veltora::UpdateManager
