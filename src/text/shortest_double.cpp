#include "text/shortest_double.hpp"

#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "text/powers_of_ten.hpp"

namespace sorvel::text {

namespace {

__extension__ typedef unsigned __int128 u128;

// Eight decimal digits of v < 10^8 as ASCII, the first in the lowest byte: split into halves
// of four digits, then pairs, then digits, every lane at once.
uint64_t eight_digits(uint64_t v) {
    const uint64_t halves = v / 10000 | (v % 10000) << 32;
    const uint64_t hundreds = ((halves * 10486) >> 20) & 0x0000007F0000007Full;
    const uint64_t pairs = hundreds | (halves - hundreds * 100) << 16;
    const uint64_t tens = ((pairs * 103) >> 10) & 0x000F000F000F000Full;
    const uint64_t digits = tens | (pairs - tens * 10) << 8;
    return digits + 0x3030303030303030ull;
}

// The shortest digits: `digits` times ten to the power `exponent`.
struct Shortest {
    uint64_t digits;
    int exponent;
};

// For value = f * 2^e2 with 2^52 <= f < 2^53 and -59 <= e2 <= -1. The reals that read back as
// the value lie between the halfway points to its neighbours, (4f - 2) and (4f + 2) in units of
// 2^(e2-2) (4f - 1 below a power of two, whose lower neighbour is nearer), the ends included
// when f is even. Scaled by 10^k and floored, they give integers vm, vr, vp; k is chosen so
// that the grid of 10^-(k-1) still falls inside the interval, so at least one digit is
// removed below and the last removed digit decides the rounding.
Shortest shortest_digits(uint64_t f, int e2, bool lower_nearer) {
    const bool accept_bounds = (f & 1) == 0;
    const uint64_t mv = 4 * f;
    // 10^-(k-1) < (3/4) 2^e2: k - 1 > -e2 log10(2) + log10(4/3).
    const int k = int(((uint64_t(-e2) * 78913) + 39322) >> 18) + 2;
    const int shift = 2 - e2;  // at most 61
    const uint64_t power = kPowersOfTen[k];
    const u128 low_mask = (u128(1) << shift) - 1;
    const u128 sv = u128(mv) * power;
    const u128 sp = sv + 2 * u128(power);
    const u128 sm = sv - (lower_nearer ? 1 : 2) * u128(power);
    uint64_t vr = uint64_t(sv >> shift);
    uint64_t vp = uint64_t(sp >> shift);
    uint64_t vm = uint64_t(sm >> shift);
    bool vr_trailing_zeros = (sv & low_mask) == 0;
    bool vm_trailing_zeros = accept_bounds && (sm & low_mask) == 0;
    if (!accept_bounds && (sp & low_mask) == 0) --vp;

    // As many digits as the interval allows are removed; whether n more can go is
    // vp / 10^n > vm / 10^n, so the count is found by halving steps.
    int removed = 0;
    uint64_t last_removed = 0;
    auto remove = [&](int n) {
        const uint64_t scale = kPowersOfTen[n];
        const uint64_t low = vr % scale;
        vm_trailing_zeros &= vm % scale == 0;
        vr_trailing_zeros &= last_removed == 0 && low % (scale / 10) == 0;
        last_removed = low / (scale / 10);
        vr /= scale;
        vp /= scale;
        vm /= scale;
        removed += n;
    };
    auto removable = [&](int n) { return vp / kPowersOfTen[n] > vm / kPowersOfTen[n]; };
    while (removable(8))
        remove(8);
    for (int n : {4, 2, 1}) {
        if (removable(n)) remove(n);
    }
    if (vm_trailing_zeros) {
        // The lower end itself is a candidate, and it may end in more zeros.
        while (vm % 10 == 0)
            remove(1);
    }
    if (vr_trailing_zeros && last_removed == 5 && vr % 2 == 0) last_removed = 4;  // a tie: even
    const bool round_up =
        (vr == vm && (!accept_bounds || !vm_trailing_zeros)) || last_removed >= 5;
    return {vr + round_up, removed - k};
}

// The digits in the shorter of fixed and scientific notation (fixed on a tie), as to_chars.
// Writes within kShortestDoubleSize bytes of `out`, some of them past the end returned.
DoubleText put_shortest(char* out, Shortest s) {
    // The (at most 17) digits right-aligned in 17 places, then zeros to copy from in fixed
    // sizes.
    char text[56];
    const uint64_t high = s.digits / 100000000;
    const uint64_t words[2] = {eight_digits(high % 100000000), eight_digits(s.digits % 100000000)};
    text[0] = char('0' + high / 100000000);
    std::memcpy(text + 1, words, 16);
    std::memset(text + 17, '0', 32);
    int length;
    if (high >= 100000000) {
        length = 17;
    } else if (high != 0) {
        length = 16 - std::countr_zero(words[0] - 0x3030303030303030ull) / 8;
    } else {
        length = 8 - std::countr_zero(words[1] - 0x3030303030303030ull) / 8;
    }
    const char* digits = text + 17 - length;
    const int exponent = s.exponent;
    const int scientific = length - 1 + exponent;  // the exponent of "d.ddd e±xx"
    const int abs_scientific = scientific < 0 ? -scientific : scientific;
    const int scientific_length = length + (length > 1) + 2 + (abs_scientific >= 100 ? 3 : 2);
    if (exponent >= 0) {
        // An integer, its zeros written out unless the exponent is shorter.
        if (length + exponent <= scientific_length) {
            std::memcpy(out, digits, 24);
            return {out + length + exponent, true};
        }
    } else if (scientific >= 0) {
        // The point among the digits: never longer than the exponent form.
        const int whole = scientific + 1;
        std::memcpy(out, digits, 16);
        out[whole] = '.';
        std::memcpy(out + whole + 1, digits + whole, 16);
        return {out + length + 1, false};
    } else if (length + 1 - scientific <= scientific_length) {
        // "0.000ddd", at most four zeros after the point.
        std::memcpy(out, "0.000000", 8);
        const int zeros = -scientific - 1;
        std::memcpy(out + 2 + zeros, digits, 24);
        return {out + length + 1 - scientific, false};
    }
    out[0] = digits[0];
    out[1] = '.';
    std::memcpy(out + 2, digits + 1, 16);
    char* p = out + (length > 1 ? length + 1 : 1);
    *p++ = 'e';
    *p++ = scientific < 0 ? '-' : '+';
    if (abs_scientific >= 100) *p++ = char('0' + abs_scientific / 100);
    *p++ = char('0' + abs_scientific / 10 % 10);
    *p++ = char('0' + abs_scientific % 10);
    return {p, false};
}

}  // namespace

DoubleText write_shortest_double(char* out, double value) {
    const uint64_t bits = std::bit_cast<uint64_t>(value);
    const uint64_t fraction = bits & ((uint64_t(1) << 52) - 1);
    const int biased = int((bits >> 52) & 0x7ff);
    const int e2 = biased - 1075;
    if (bits << 1 == 0) {
        if (bits >> 63) *out++ = '-';
        *out++ = '0';
        return {out, true};
    }
    if (biased == 0 || e2 < -59 || e2 > -1) {
        char* end = std::to_chars(out, out + kShortestDoubleSize, value).ptr;
        const std::string_view text(out, size_t(end - out));
        return {end, text.find_first_of(".e") == std::string_view::npos};
    }
    if (bits >> 63) *out++ = '-';
    const uint64_t f = fraction | (uint64_t(1) << 52);
    return put_shortest(out, shortest_digits(f, e2, fraction == 0 && biased > 1));
}

}  // namespace sorvel::text
