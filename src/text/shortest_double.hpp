// The shortest text of a double that reads back as the same double, written exactly as the
// plain std::to_chars(first, last, value) writes it: the fewest significant digits, the nearest
// of those to the exact value (ties to an even last digit), in fixed notation unless scientific
// ("1e+16", "1.5e-07") is shorter.
//
// Most doubles that real data holds lie between 2^-7 and 2^52; for them the digits are found
// with exact 128-bit integer arithmetic (the interval of reals that round to the double, scaled
// by a power of ten, narrowed one digit at a time as Ryu does), with no tables of powers of
// five. Everything else (zero aside) is left to std::to_chars.
#pragma once

#include <cstddef>

namespace sorvel::text {

// Room that write_shortest_double may need (it may write past the end of the text in it).
inline constexpr size_t kShortestDoubleSize = 48;

struct DoubleText {
    char* end;
    bool integral;  // neither a point nor an exponent was written ("12", "-0")
};

// Writes the text of a finite `value` at `out`.
DoubleText write_shortest_double(char* out, double value);

}  // namespace sorvel::text
