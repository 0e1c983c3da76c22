#include <charconv>
#include <cstddef>
#include <string>

#include "check.hpp"
#include "text/alphabetic.hpp"

using sorvel::text::alphabetic_ranges;
using sorvel::text::is_alphabetic;

namespace {

struct AlphabeticCase {
    char32_t code_point;
    bool alphabetic;
};

constexpr AlphabeticCase kCases[] = {
    {0x0000, false},   // NUL
    {0x0041, true},    // 'A'
    {0x0030, false},   // '0'
    {0x00A9, false},   // copyright sign
    {0x00AA, true},    // feminine ordinal indicator, first letter past ASCII
    {0x00D7, false},   // multiplication sign, inside the Latin-1 letters
    {0x00E9, true},    // e with acute
    {0x0345, true},    // combining ypogegrammeni: Other_Alphabetic, not a letter category
    {0x0627, true},    // Arabic alef
    {0x0663, false},   // Arabic-Indic digit three
    {0x2160, true},    // Roman numeral one (letter number)
    {0x3000, false},   // ideographic space
    {0x4E00, true},    // CJK ideograph
    {0x1F600, false},  // emoji
    {0x20000, true},   // CJK extension B
    {0x323AF, true},   // last Alphabetic code point in Unicode 15.0
    {0x323B0, false},    {0x110000, false},  // not a code point at all
    {0xFFFFFFFF, false},
};

std::string code_point_name(char32_t code_point) {
    char digits[16];
    char* const end =
        std::to_chars(digits, digits + sizeof digits, static_cast<unsigned long>(code_point), 16)
            .ptr;
    return "U+" + std::string(digits, end);
}

}  // namespace

TEST_CASE(alphabetic_known_code_points) {
    for (const AlphabeticCase& c : kCases) {
        CONTEXT(code_point_name(c.code_point));
        CHECK_EQ(is_alphabetic(c.code_point), c.alphabetic);
    }
}

// Every range edge must be found and its neighbours outside must not, which pins down the binary
// search at all 732 boundaries rather than a few hand-picked ones.
TEST_CASE(alphabetic_range_edges) {
    const auto ranges = alphabetic_ranges();
    CHECK(ranges.size() > 700);
    for (std::size_t i = 0; i < ranges.size(); ++i) {
        const char32_t first = ranges[i].first;
        const char32_t last = ranges[i].last;
        CONTEXT(code_point_name(first) + ".." + code_point_name(last));
        CHECK(is_alphabetic(first));
        CHECK(is_alphabetic(last));
        CHECK(is_alphabetic(first + (last - first) / 2));
        CHECK(!is_alphabetic(last + 1));
        if (first > 0) CHECK(!is_alphabetic(first - 1));
    }
}

// The Latin-1 shortcut agrees with the table on every code point it decides.
TEST_CASE(alphabetic_latin1_shortcut_matches_table) {
    const auto ranges = alphabetic_ranges();
    for (char32_t c = 0; c < 0x100; ++c) {
        bool in_table = false;
        for (const auto& range : ranges)
            in_table |= range.first <= c && c <= range.last;
        CONTEXT(std::to_string(unsigned(c)));
        CHECK_EQ(is_alphabetic(c), in_table);
    }
}
