#include <cstdint>
#include <string>

#include "check.hpp"
#include "text/powers_of_ten.hpp"

using sorvel::text::decimal_digits;
using sorvel::text::kPowersOfTen;

TEST_CASE(decimal_digits_at_every_power_of_ten) {
    CHECK_EQ(decimal_digits(0), 1);
    CHECK_EQ(decimal_digits(UINT64_MAX), 20);
    for (size_t n = 1; n < kPowersOfTen.size(); ++n) {
        CONTEXT(std::to_string(kPowersOfTen[n]));
        CHECK_EQ(kPowersOfTen[n], kPowersOfTen[n - 1] * 10);
        CHECK_EQ(decimal_digits(kPowersOfTen[n] - 1), int(n));
        CHECK_EQ(decimal_digits(kPowersOfTen[n]), int(n) + 1);
        CHECK_EQ(decimal_digits(kPowersOfTen[n] + 1), int(n) + 1);
        // The widest value of the same bit width, where the estimate is most often one short.
        const uint64_t width_top = (uint64_t{2} << (63 - __builtin_clzll(kPowersOfTen[n]))) - 1;
        CHECK_EQ(decimal_digits(width_top), int(std::to_string(width_top).size()));
    }
}
