#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "text/result.hpp"

namespace sorvel::text {

__extension__ typedef unsigned __int128 u128;

// A fixed-point decimal: value = (negative ? -1 : 1) * mantissa / 10^scale. The mantissa stays
// below 2^96 and the scale within 0..28, so every value fits the 96-bit decimal model used across
// the library. Trailing zeros are significant: 1.50 is {150, 2}, not {15, 1}.
struct Decimal {
    u128 mantissa = 0;
    uint8_t scale = 0;
    bool negative = false;
};

inline constexpr uint8_t kMaxDecimalScale = 28;
inline constexpr u128 kDecimalMantissaLimit = u128{1} << 96;  // first value that does not fit

enum class DecimalError {
    Empty,
    TwoDecimalPoints,
    LeadingUnderscore,
    UnknownCharacter,
    NoDigits,
    TooManyDigits,
    MantissaOverflow,
};

std::string_view describe(DecimalError error);

// Reads "[+-]digits[.digits]" with "_" separators after the first digit. Fraction digits beyond
// what the 96-bit mantissa or scale 28 can hold are rounded half-up into the last kept digit.
Result<Decimal, DecimalError> parse_decimal(std::string_view text);

// What Python's format(value, "f") writes for a Decimal whose str() is the exponent form `text`
// ("[-]digits[.digits]E[+-]digits"): "0E-8" gives "0.00000000", "5.0E-7" "0.00000050", "1E+2"
// "100", and a zero with a positive exponent "0". Integer digits past the 40th and fraction
// digits past the 30th are left out, so a huge exponent costs nothing: parse_decimal refuses
// more than 29 integer digits and never looks past the 29th fraction digit, so it reads the
// shortened text exactly as the full one. nullopt when `text` is not in that form.
std::optional<std::string> positional_decimal_text(std::string_view text);

// Number of decimal digits in the mantissa; zero counts as one digit.
int digit_count(const Decimal& value);

// Plain positional text ("-0.05", "1.50", "100"), never exponent form.
void append_decimal(std::string& out, const Decimal& value);

struct DecimalDigits {
    uint64_t digits;
    uint64_t places;
};

// Counts significant digits and decimal places of any decimal-looking text, including the
// exponent forms "1E+2" and "1E-8" that str() of a Python Decimal produces. Never fails: an
// unreadable exponent counts as 0 and any other character counts as a digit.
DecimalDigits count_decimal_text(std::string_view text);

}  // namespace sorvel::text
