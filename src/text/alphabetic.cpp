#include "text/alphabetic.hpp"

#include <algorithm>

namespace sorvel::text {

bool is_alphabetic(char32_t code_point) noexcept {
    // Latin-1, where most letters of European names lie, without the search: the ASCII
    // letters, the two ordinal indicators, the micro sign, and U+00C0..U+00FF but for the
    // multiplication and division signs.
    if (code_point < 0x100) {
        if (code_point < 0x80) return ((code_point | 0x20) - 'a') < 26;
        if (code_point < 0xC0)
            return code_point == 0xAA || code_point == 0xB5 || code_point == 0xBA;
        return code_point != 0xD7 && code_point != 0xF7;
    }
    const std::span<const CodePointRange> ranges = alphabetic_ranges();
    // First range that ends at or after the code point; it contains the code point or lies past it.
    const auto it = std::lower_bound(
        ranges.begin(), ranges.end(), code_point,
        [](const CodePointRange& range, char32_t value) { return range.last < value; });
    return it != ranges.end() && it->first <= code_point;
}

}  // namespace sorvel::text
