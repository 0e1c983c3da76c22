#pragma once

#include <optional>
#include <string_view>

namespace sorvel::text {

// Reads the whole text as a decimal floating-point number and returns the nearest double.
//
// Accepted: an optional "+" or "-", then either digits with at most one decimal point (at least
// one digit overall, so "5." and ".5" are fine but "." is not) followed by an optional exponent
// ("e" or "E", an optional sign, at least one digit), or one of the words "inf", "infinity" and
// "nan" in any letter case. Nothing may surround the number: no spaces, no hex, no "nan(...)".
//
// Values too large for a double give an infinity and values too small give zero, both with the
// sign of the text. Anything that does not match returns std::nullopt.
std::optional<double> parse_float_text(std::string_view text);

}  // namespace sorvel::text
