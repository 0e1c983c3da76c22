// The plain, canonical text forms of dates, times, date-times and decimals that request data
// usually carries. Each parser accepts only forms that Python's fromisoformat and
// decimal.Decimal read the same way, and answers nothing for anything else, so that a caller
// can hand every other text to Python itself.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace sorvel::text {

struct PlainDate {
    int year, month, day;
};
struct PlainTime {
    int hour, minute, second, microsecond;
};
struct PlainDateTime {
    PlainDate date;
    PlainTime time;
    bool has_offset;
    int offset_minutes;  // east of UTC
};

// YYYY-MM-DD naming a real day of years 1..9999.
std::optional<PlainDate> parse_plain_date(std::string_view text);
// HH:MM, HH:MM:SS, HH:MM:SS.fff or HH:MM:SS.ffffff within the day.
std::optional<PlainTime> parse_plain_time(std::string_view text);
// A plain date, "T" or " ", a plain time, then optionally "Z" or ±HH:MM (under 24 hours).
std::optional<PlainDateTime> parse_plain_datetime(std::string_view text);

// The coefficient and exponent of a finite decimal as decimal.Decimal.as_tuple() gives them:
// `digits` counts the coefficient's digits without leading zeros (1 for zero).
constexpr int64_t kDecimalWordDigits = 19;

// `coefficient` is the coefficient itself while it has at most 19 digits (else 0), and
// `negative` the sign as written ("-0" is negative).
struct DecimalShape {
    int64_t digits;
    int64_t exponent;
    bool zero;
    uint64_t coefficient = 0;
    bool negative = false;
};
// [+-]? digits [. digits] or [+-]? . digits, with an optional e/E exponent of up to 9 digits;
// nothing else (no spaces, underscores, infinities or NaNs).
std::optional<DecimalShape> parse_decimal_shape(std::string_view text);

// 8-4-4-4-12 hyphenated or 32 plain hexadecimal digits (either case), as 16 big-endian bytes.
std::optional<std::array<unsigned char, 16>> parse_plain_uuid(std::string_view text);

}  // namespace sorvel::text
