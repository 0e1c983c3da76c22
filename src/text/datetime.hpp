#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "text/result.hpp"

namespace sorvel::text {

// Proleptic Gregorian calendar date.
struct Date {
    int32_t year;
    uint8_t month;
    uint8_t day;
    friend bool operator==(const Date&, const Date&) = default;
};

struct Time {
    uint8_t hour;
    uint8_t minute;
    uint8_t second;
    uint32_t nanosecond;  // 0..999999999
    friend bool operator==(const Time&, const Time&) = default;
};

// Always naive or already converted to UTC; offsets never survive parsing.
struct DateTime {
    Date date;
    Time time;
    friend bool operator==(const DateTime&, const DateTime&) = default;
};

enum class TimeParseError {
    OutOfRange,
    Impossible,
    NotEnough,
    Invalid,
    TooShort,
    TooLong,
    BadFormat,
};

std::string_view describe(TimeParseError error);

// --- strftime-style reading with detailed failures ---

// The fields a format string managed to fill. Unset fields stay empty so that resolving a
// date or time can tell "missing" from "zero".
struct PatternFields {
    std::optional<int32_t> year;
    std::optional<uint8_t> month;
    std::optional<uint8_t> day;
    std::optional<uint8_t> hour;
    std::optional<uint8_t> minute;
    std::optional<uint8_t> second;
    std::optional<uint32_t> nanosecond;
};

// Matches `input` against a format made of literal characters and the directives %Y %m %d %H %M
// %S and %.f (optional fraction). Field ranges are checked as they are read; calendar validity
// is left to the caller.
Result<PatternFields, TimeParseError> parse_pattern(std::string_view format,
                                                    std::string_view input);

// "%Y-%m-%d".
Result<Date, TimeParseError> parse_date_pattern(std::string_view text);
// "%H:%M:%S%.f", then "%H:%M:%S"; a failure reports the second attempt.
Result<Time, TimeParseError> parse_time_pattern(std::string_view text);
// RFC 3339 with an offset (converted to UTC), then "%Y-%m-%dT%H:%M:%S%.f", then
// "%Y-%m-%dT%H:%M:%S"; a failure reports the last attempt.
Result<DateTime, TimeParseError> parse_datetime_engine(std::string_view text);

// --- strict ISO 8601 reading: fixed widths, no detail on failure ---

// "YYYY-MM-DD".
std::optional<Date> parse_iso_date(std::string_view text);
// "HH:MM:SS[.fraction]", naive only.
std::optional<Time> parse_iso_time(std::string_view text);
// RFC 3339 with an offset (converted to UTC), else naive "YYYY-MM-DDTHH:MM:SS[.fraction]".
std::optional<DateTime> parse_iso_datetime(std::string_view text);

// "YYYY-MM-DD" ("T" | "t" | " ") "HH:MM:SS[.fraction]" ("Z" | "z" | "+HH:MM" | "-HH:MM"),
// returned as the same instant in UTC.
std::optional<DateTime> parse_rfc3339_utc(std::string_view text);

// --- calendar helpers ---

bool is_leap_year(int64_t year);
int days_in_month(int64_t year, int month);
// Days since 1970-01-01 and back.
int64_t days_from_civil(int64_t year, int month, int day);
Date civil_from_days(int64_t days);

// --- formatting ---

// "2024-01-05"; years outside 0..9999 get a sign and at least four digits ("+10000", "-0001").
void append_date(std::string& out, const Date& date);
// "10:30:00", then ".120" / ".123456" / ".123456789" choosing the shortest exact unit.
void append_time(std::string& out, const Time& time);
// Date "T" time "+00:00".
void append_datetime_utc(std::string& out, const DateTime& value);

}  // namespace sorvel::text
