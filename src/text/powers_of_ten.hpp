// Ten to the powers a uint64_t holds, and the count of decimal digits of a uint64_t.
#pragma once

#include <array>
#include <bit>
#include <cstdint>

namespace sorvel::text {

// kPowersOfTen[n] is 10^n, for n in 0 .. 19.
inline constexpr std::array<uint64_t, 20> kPowersOfTen = [] {
    std::array<uint64_t, 20> powers{};
    uint64_t power = 1;
    for (uint64_t& value : powers) {
        value = power;
        power *= 10;
    }
    return powers;
}();

// The decimal digits of `value` (1 for zero): its bit width gives the count or one more.
inline int decimal_digits(uint64_t value) {
    const uint64_t odd = value | 1;  // zero counts as one; no power of ten above 1 is odd
    const int estimate = (std::bit_width(odd) * 1233) >> 12;  // log10(2) ~ 1233 / 4096
    return estimate - (odd < kPowersOfTen[size_t(estimate)]) + 1;
}

}  // namespace sorvel::text
