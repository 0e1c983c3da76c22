#include "text/alphabetic.hpp"

#include <algorithm>

namespace sorvel::text {

bool is_alphabetic(char32_t code_point) noexcept {
    const std::span<const CodePointRange> ranges = alphabetic_ranges();
    // First range that ends at or after the code point; it contains the code point or lies past it.
    const auto it = std::lower_bound(
        ranges.begin(), ranges.end(), code_point,
        [](const CodePointRange& range, char32_t value) { return range.last < value; });
    return it != ranges.end() && it->first <= code_point;
}

}  // namespace sorvel::text
