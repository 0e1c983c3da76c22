#include <optional>
#include <string>

#include "check.hpp"
#include "text/datetime.hpp"

using namespace sorvel::text;

namespace {

std::string text_of(const Date& date) {
    std::string out;
    append_date(out, date);
    return out;
}

std::string text_of(const Time& time) {
    std::string out;
    append_time(out, time);
    return out;
}

std::string text_of(const DateTime& value) {
    std::string out;
    append_datetime_utc(out, value);
    return out;
}

// Parsed value as text, or the failure description, so one table column covers both.
template <class T>
std::string outcome(const Result<T, TimeParseError>& result) {
    return result ? text_of(result.value()) : std::string(describe(result.error()));
}

template <class T>
std::string outcome(const std::optional<T>& result) {
    return result ? text_of(*result) : "none";
}

struct Row {
    const char* input;
    const char* expected;
};

constexpr const char* kOutOfRange = "input is out of range";
constexpr const char* kInvalid = "input contains invalid characters";
constexpr const char* kTooShort = "premature end of input";
constexpr const char* kTooLong = "trailing input";
constexpr const char* kBadFormat = "bad or unsupported format string";

}  // namespace

TEST_CASE(datetime_pattern_date) {
    const Row rows[] = {
        {"2024-01-15", "2024-01-15"},
        {"2024-1-5", "2024-01-05"},
        {"+2024-01-15", "2024-01-15"},
        {"-0044-03-15", "-0044-03-15"},
        {"+12345-01-01", "+12345-01-01"},
        {"2024-02-29", "2024-02-29"},
        {"2023-02-29", kOutOfRange},
        {"2024-02-30", kOutOfRange},
        {"2024-04-31", kOutOfRange},
        {"2024-13-01", kOutOfRange},
        {"2024-00-10", kOutOfRange},
        {"2024-01-32", kOutOfRange},
        {"+99999999999-01-01", kOutOfRange},
        {"+99999999999999999999-01-01", kOutOfRange},
        {"", kTooShort},
        {"2024-01", kTooShort},
        {"2024-01-", kTooShort},
        {"+", kTooShort},
        {"+x", kInvalid},
        {"2024/01/15", kInvalid},
        {"20245-01-01", kInvalid},
        {" 2024-01-15", kInvalid},
        {"2024-01-15T10:30:00", kTooLong},
        {"2024-01-15 ", kTooLong},
    };
    for (const Row& row : rows) {
        CONTEXT(row.input);
        CHECK_EQ(outcome(parse_date_pattern(row.input)), row.expected);
    }
}

TEST_CASE(datetime_pattern_time) {
    const Row rows[] = {
        {"10:30:00", "10:30:00"},
        {"1:2:3", "01:02:03"},
        {"23:59:59", "23:59:59"},
        {"10:30:00.5", "10:30:00.500"},
        {"10:30:00.000001", "10:30:00.000001"},
        {"10:30:00.123456789123", "10:30:00.123456789"},
        {"10:30:00+02:00", kTooLong},
        {"10:30:00.", kTooLong},  // the fallback without "%.f" reports the stray point
        {"10:30:00.x", kTooLong},
        {"24:00:00", kOutOfRange},
        {"10:60:00", kOutOfRange},
        {"10:30:60", kOutOfRange},
        {"10:30", kTooShort},
        {"10:30:", kTooShort},
        {"10-30-00", kInvalid},
        {"10:3x:00", kInvalid},
    };
    for (const Row& row : rows) {
        CONTEXT(row.input);
        CHECK_EQ(outcome(parse_time_pattern(row.input)), row.expected);
    }
}

TEST_CASE(datetime_pattern_engine_directives) {
    struct PatternRow {
        const char* format;
        const char* input;
        const char* error;  // nullptr: parses
    };
    const PatternRow rows[] = {
        {"%Q", "1", kBadFormat},
        {"%", "1", kBadFormat},
        {"%.x", "1", kBadFormat},
        {"%Y-%Q", "x", kInvalid},  // the format is only judged as far as the input gets
        {"%Y-%Q", "2024-1", kBadFormat},
        {"%S%.f", "01.", kTooShort},
        {"%S%.f", "01.x", kInvalid},
        {"%S%.f", "01", nullptr},
        {"%S%.f", "01.1234567890", nullptr},
        {"x%Y", "x2024", nullptr},
        {"x%Y", "y2024", kInvalid},
        {"%Y%m%d", "20240115", nullptr},
    };
    for (const PatternRow& row : rows) {
        CONTEXT(std::string(row.format) + " / " + row.input);
        const auto parsed = parse_pattern(row.format, row.input);
        CHECK_EQ(parsed.ok(), row.error == nullptr);
        if (!parsed && row.error != nullptr) CHECK_EQ(describe(parsed.error()), row.error);
    }
    const auto fields = parse_pattern("%Y%m%d", "20240115");
    CHECK(fields && fields.value().year == 2024 && fields.value().month == 1 &&
          fields.value().day == 15 && !fields.value().hour);
    const auto fraction = parse_pattern("%S%.f", "01.25");
    CHECK(fraction && fraction.value().nanosecond == 250000000u);
}

TEST_CASE(datetime_engine) {
    const Row rows[] = {
        {"2024-01-15T10:30:00", "2024-01-15T10:30:00+00:00"},
        {"2024-01-15T10:30:00.123", "2024-01-15T10:30:00.123+00:00"},
        {"2024-01-15T10:30:00.5+02:00", "2024-01-15T08:30:00.500+00:00"},
        {"2024-01-15T10:30:00Z", "2024-01-15T10:30:00+00:00"},
        {"2024-01-15t10:30:00z", "2024-01-15T10:30:00+00:00"},
        {"2024-01-15 10:30:00-00:30", "2024-01-15T11:00:00+00:00"},
        {"2024-01-01T00:30:00+02:00", "2023-12-31T22:30:00+00:00"},
        {"2024-02-28T23:00:00-01:30", "2024-02-29T00:30:00+00:00"},
        {"2023-02-28T23:00:00-01:30", "2023-03-01T00:30:00+00:00"},
        {"9999-12-31T23:30:00-01:00", "+10000-01-01T00:30:00+00:00"},
        {"0000-01-01T00:30:00+01:00", "-0001-12-31T23:30:00+00:00"},
        {"2024-01-15", kTooShort},
        {"2024-01-15T10:30:00+05:30:15", kTooLong},
        {"2024-01-15T10:30:00+24:00", kTooLong},
        {"2024-01-15T10:30:00+02", kTooLong},
        {"2024-01-15 10:30:00", kInvalid},  // a blank separator needs an offset
        {"2024-02-30T10:00:00", kOutOfRange},
        {"2024-02-30T10:00:00Z", kTooLong},
    };
    for (const Row& row : rows) {
        CONTEXT(row.input);
        CHECK_EQ(outcome(parse_datetime_engine(row.input)), row.expected);
    }
}

TEST_CASE(datetime_strict_iso_date_and_time) {
    const Row dates[] = {
        {"2024-01-15", "2024-01-15"}, {"2024-02-29", "2024-02-29"}, {"0000-01-01", "0000-01-01"},
        {"2023-02-29", "none"},       {"2024-1-15", "none"},        {"20240115", "none"},
        {"2024-01-15 ", "none"},      {"2024-01-1x", "none"},       {"+2024-01-15", "none"},
        {"2024-13-01", "none"},       {"2024-00-01", "none"},       {"", "none"},
    };
    for (const Row& row : dates) {
        CONTEXT(row.input);
        CHECK_EQ(outcome(parse_iso_date(row.input)), row.expected);
    }
    const Row times[] = {
        {"10:30:00", "10:30:00"},
        {"10:30:00.5", "10:30:00.500"},
        {"10:30:00.000005", "10:30:00.000005"},
        {"10:30:00.1234567891", "10:30:00.123456789"},
        {"10:30:00.", "none"},
        {"10:30:00+02:00", "none"},
        {"10:30:00Z", "none"},
        {"24:00:00", "none"},
        {"10:60:00", "none"},
        {"10:30:60", "none"},
        {"10:30", "none"},
        {"1:30:00", "none"},
        {"10:30:00.5x", "none"},
    };
    for (const Row& row : times) {
        CONTEXT(row.input);
        CHECK_EQ(outcome(parse_iso_time(row.input)), row.expected);
    }
}

TEST_CASE(datetime_strict_iso_datetime) {
    const Row rows[] = {
        {"2024-01-15T10:30:00", "2024-01-15T10:30:00+00:00"},
        {"2024-01-15T10:30:00.25", "2024-01-15T10:30:00.250+00:00"},
        {"2024-01-15T10:30:00+02:00", "2024-01-15T08:30:00+00:00"},
        {"2024-01-15 10:30:00Z", "2024-01-15T10:30:00+00:00"},
        {"2024-12-31T23:00:00-01:00", "2025-01-01T00:00:00+00:00"},
        {"2024-01-15 10:30:00", "none"},
        {"2024-01-15T10:30:00+05:30:15", "none"},
        {"2024-01-15T10:30:00+02:60", "none"},
        {"2024-01-15T10:30:00+0200", "none"},
        {"2024-01-15T10:30", "none"},
        {"2024-01-15", "none"},
        {"2024-02-30T10:30:00", "none"},
    };
    for (const Row& row : rows) {
        CONTEXT(row.input);
        CHECK_EQ(outcome(parse_iso_datetime(row.input)), row.expected);
    }
}

TEST_CASE(datetime_calendar_round_trip) {
    CHECK_EQ(days_from_civil(1970, 1, 1), 0);
    CHECK_EQ(days_from_civil(2000, 3, 1), 11017);
    CHECK_EQ(days_from_civil(1969, 12, 31), -1);
    CHECK(is_leap_year(2000) && is_leap_year(2024) && is_leap_year(-4) && is_leap_year(0));
    CHECK(!is_leap_year(1900) && !is_leap_year(2023) && !is_leap_year(-1));
    // Every day over several 400-year cycles maps to a real date and back, one day apart.
    Date previous = civil_from_days(-1000001);
    for (int64_t day = -1000000; day <= 1000000; ++day) {
        const Date date = civil_from_days(day);
        if (date.day < 1 || date.day > days_in_month(date.year, date.month) ||
            days_from_civil(date.year, date.month, date.day) != day) {
            CHECK_EQ(text_of(date), std::to_string(day));
            break;
        }
        const bool next_in_month = date.day == previous.day + 1 && date.month == previous.month;
        const bool next_month =
            date.day == 1 && previous.day == days_in_month(previous.year, previous.month);
        if (!next_in_month && !next_month) {
            CHECK_EQ(text_of(date), text_of(previous));
            break;
        }
        previous = date;
    }
}

TEST_CASE(datetime_formatting) {
    CHECK_EQ(text_of(Date{2024, 1, 5}), "2024-01-05");
    CHECK_EQ(text_of(Date{5, 12, 31}), "0005-12-31");
    CHECK_EQ(text_of(Date{0, 1, 1}), "0000-01-01");
    CHECK_EQ(text_of(Date{10000, 1, 1}), "+10000-01-01");
    CHECK_EQ(text_of(Date{-1, 1, 1}), "-0001-01-01");
    struct TimeRow {
        uint32_t nanosecond;
        const char* text;
    };
    const TimeRow times[] = {
        {0, "10:30:00"},
        {120000000, "10:30:00.120"},
        {5000000, "10:30:00.005"},
        {123456000, "10:30:00.123456"},
        {1000, "10:30:00.000001"},
        {100000, "10:30:00.000100"},
        {123456789, "10:30:00.123456789"},
        {1, "10:30:00.000000001"},
        {999999999, "10:30:00.999999999"},
    };
    for (const TimeRow& row : times) {
        CONTEXT(row.text);
        CHECK_EQ(text_of(Time{10, 30, 0, row.nanosecond}), row.text);
    }
    CHECK_EQ(text_of(Time{7, 5, 9, 0}), "07:05:09");
    CHECK_EQ(text_of(DateTime{{2024, 1, 15}, {8, 30, 0, 500000000}}),
             "2024-01-15T08:30:00.500+00:00");
}
