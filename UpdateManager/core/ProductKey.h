#pragma once

#include <string>
#include <tuple>

namespace Veltora::UpdateManager
{

// Names a product: its SKU and its resource category on the server ("soft", "firmware"
// or "manual"). Ordered by SKU, then type, byte-wise.
struct ProductKey
{
    std::string sku;
    std::string type;

    friend bool operator<(const ProductKey& left, const ProductKey& right)
    {
        return std::tie(left.sku, left.type) < std::tie(right.sku, right.type);
    }
    friend bool operator==(const ProductKey& left, const ProductKey& right)
    {
        return left.sku == right.sku && left.type == right.type;
    }
    friend bool operator!=(const ProductKey& left, const ProductKey& right)
    {
        return !(left == right);
    }
};

} // namespace Veltora::UpdateManager
