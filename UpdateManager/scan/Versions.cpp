#include "UpdateManager/scan/Versions.h"

#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/split.hpp>

#include <optional>
#include <vector>

namespace Veltora::UpdateManager
{

namespace
{
constexpr std::size_t packedPieces = 4;

// Digits only, after an optional sign; a "-" gives the negative value modulo 2^16.
// Empty texts, blanks and values above 65535 are rejected.
std::optional<std::uint16_t> strictPiece(const std::string& piece)
{
    std::size_t position = 0;
    bool negative = false;
    if (!piece.empty() && (piece[0] == '+' || piece[0] == '-'))
    {
        negative = piece[0] == '-';
        position = 1;
    }
    if (position == piece.size())
        return std::nullopt;
    std::uint32_t value = 0;
    for (; position < piece.size(); ++position)
    {
        const char character = piece[position];
        if (character < '0' || character > '9')
            return std::nullopt;
        value = value * 10 + static_cast<std::uint32_t>(character - '0');
        if (value > 0xFFFF)
            return std::nullopt;
    }
    const auto magnitude = static_cast<std::uint16_t>(value);
    return negative ? static_cast<std::uint16_t>(0x10000 - magnitude) : magnitude;
}
} // namespace

std::uint64_t packVersion(const std::string& version)
{
    std::vector<std::string> pieces;
    boost::algorithm::split(pieces, version, boost::algorithm::is_any_of("."));
    if (pieces.size() < 2)
        return 0;
    std::uint64_t packed = 0;
    for (std::size_t index = 0; index < packedPieces; ++index)
    {
        std::uint16_t value = 0;
        if (index < pieces.size())
        {
            const std::optional<std::uint16_t> piece = strictPiece(pieces[index]);
            if (!piece)
                return 0;
            value = *piece;
        }
        packed = (packed << 16) | value;
    }
    return packed;
}

} // namespace Veltora::UpdateManager
