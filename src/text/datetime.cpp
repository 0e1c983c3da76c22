#include "text/datetime.hpp"

#include <charconv>

namespace sorvel::text {

namespace {

constexpr uint32_t kPow10[10] = {1,      10,      100,      1000,      10000,
                                 100000, 1000000, 10000000, 100000000, 1000000000};

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// ---------------------------------------------------------------- pattern engine

// Reads min..max digits at `pos`. Too few digits is a truncated input when the text ran out and
// a wrong character otherwise.
std::optional<TimeParseError> read_digits(std::string_view in, size_t& pos, size_t min, size_t max,
                                          int64_t& value) {
    size_t count = 0;
    int64_t v = 0;
    while (count < max && pos + count < in.size() && is_digit(in[pos + count])) {
        const int digit = in[pos + count] - '0';
        if (v > (INT64_MAX - digit) / 10) return TimeParseError::OutOfRange;
        v = v * 10 + digit;
        ++count;
    }
    if (count < min) {
        return pos + count >= in.size() ? TimeParseError::TooShort : TimeParseError::Invalid;
    }
    pos += count;
    value = v;
    return std::nullopt;
}

std::optional<TimeParseError> read_year(std::string_view in, size_t& pos, int32_t& year) {
    int64_t value = 0;
    if (pos < in.size() && (in[pos] == '+' || in[pos] == '-')) {
        const bool negative = in[pos] == '-';
        ++pos;
        if (auto error = read_digits(in, pos, 1, SIZE_MAX, value)) return error;
        if (negative) value = -value;
    } else if (auto error = read_digits(in, pos, 1, 4, value)) {
        return error;
    }
    if (value < INT32_MIN || value > INT32_MAX) return TimeParseError::OutOfRange;
    year = static_cast<int32_t>(value);
    return std::nullopt;
}

std::optional<TimeParseError> read_field(std::string_view in, size_t& pos, int64_t low,
                                         int64_t high, std::optional<uint8_t>& field) {
    int64_t value = 0;
    if (auto error = read_digits(in, pos, 1, 2, value)) return error;
    if (value < low || value > high) return TimeParseError::OutOfRange;
    field = static_cast<uint8_t>(value);
    return std::nullopt;
}

// "%.f": nothing unless a "." follows; then at least one digit, nine of them significant and
// any further ones swallowed.
std::optional<TimeParseError> read_fraction(std::string_view in, size_t& pos,
                                            std::optional<uint32_t>& nanosecond) {
    if (pos >= in.size() || in[pos] != '.') return std::nullopt;
    ++pos;
    const size_t start = pos;
    int64_t value = 0;
    if (auto error = read_digits(in, pos, 1, 9, value)) return error;
    while (pos < in.size() && is_digit(in[pos]))
        ++pos;
    const size_t kept = std::min<size_t>(pos - start, 9);
    nanosecond = static_cast<uint32_t>(value) * kPow10[9 - kept];
    return std::nullopt;
}

Result<Date, TimeParseError> resolve_date(const PatternFields& fields) {
    if (!fields.year || !fields.month || !fields.day) return Failure{TimeParseError::NotEnough};
    if (*fields.day > days_in_month(*fields.year, *fields.month)) {
        return Failure{TimeParseError::OutOfRange};
    }
    return Date{*fields.year, *fields.month, *fields.day};
}

Result<Time, TimeParseError> resolve_time(const PatternFields& fields) {
    if (!fields.hour || !fields.minute) return Failure{TimeParseError::NotEnough};
    return Time{*fields.hour, *fields.minute, fields.second.value_or(0),
                fields.nanosecond.value_or(0)};
}

Result<DateTime, TimeParseError> parse_datetime_pattern(std::string_view format,
                                                        std::string_view text) {
    auto fields = parse_pattern(format, text);
    if (!fields) return Failure{fields.error()};
    auto date = resolve_date(fields.value());
    if (!date) return Failure{date.error()};
    auto time = resolve_time(fields.value());
    if (!time) return Failure{time.error()};
    return DateTime{date.value(), time.value()};
}

// ---------------------------------------------------------------- fixed-width ISO pieces

// Exactly `count` digits at `p`.
bool fixed(const char* p, int count, int& value) {
    int v = 0;
    for (int i = 0; i < count; ++i) {
        if (!is_digit(p[i])) return false;
        v = v * 10 + (p[i] - '0');
    }
    value = v;
    return true;
}

// "YYYY-MM-DD" at the start of `text` (which must hold at least 10 characters).
std::optional<Date> iso_date_prefix(std::string_view text) {
    if (text.size() < 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
    int year = 0;
    int month = 0;
    int day = 0;
    if (!fixed(text.data(), 4, year) || !fixed(text.data() + 5, 2, month) ||
        !fixed(text.data() + 8, 2, day)) {
        return std::nullopt;
    }
    if (month < 1 || month > 12 || day < 1 || day > days_in_month(year, month)) {
        return std::nullopt;
    }
    return Date{year, static_cast<uint8_t>(month), static_cast<uint8_t>(day)};
}

// "HH:MM:SS[.fraction]" at the start of `text`; `used` receives how many characters it took.
std::optional<Time> iso_time_prefix(std::string_view text, size_t& used) {
    if (text.size() < 8 || text[2] != ':' || text[5] != ':') return std::nullopt;
    int hour = 0;
    int minute = 0;
    int second = 0;
    if (!fixed(text.data(), 2, hour) || !fixed(text.data() + 3, 2, minute) ||
        !fixed(text.data() + 6, 2, second)) {
        return std::nullopt;
    }
    if (hour > 23 || minute > 59 || second > 59) return std::nullopt;
    uint32_t nanosecond = 0;
    size_t pos = 8;
    if (pos < text.size() && text[pos] == '.') {
        ++pos;
        const size_t start = pos;
        while (pos < text.size() && is_digit(text[pos])) {
            if (pos - start < 9) {
                nanosecond = nanosecond * 10 + static_cast<uint32_t>(text[pos] - '0');
            }
            ++pos;
        }
        if (pos == start) return std::nullopt;
        if (pos - start < 9) nanosecond *= kPow10[9 - (pos - start)];
    }
    used = pos;
    return Time{static_cast<uint8_t>(hour), static_cast<uint8_t>(minute),
                static_cast<uint8_t>(second), nanosecond};
}

void append_padded(std::string& out, uint64_t value, int width) {
    char buf[24];
    const char* end = std::to_chars(buf, buf + sizeof buf, value).ptr;
    const int length = static_cast<int>(end - buf);
    if (length < width) out.append(static_cast<size_t>(width - length), '0');
    out.append(buf, static_cast<size_t>(length));
}

}  // namespace

std::string_view describe(TimeParseError error) {
    switch (error) {
        case TimeParseError::OutOfRange:
            return "input is out of range";
        case TimeParseError::Impossible:
            return "no possible date and time matching input";
        case TimeParseError::NotEnough:
            return "input is not enough for unique date and time";
        case TimeParseError::Invalid:
            return "input contains invalid characters";
        case TimeParseError::TooShort:
            return "premature end of input";
        case TimeParseError::TooLong:
            return "trailing input";
        case TimeParseError::BadFormat:
            return "bad or unsupported format string";
    }
    return "bad or unsupported format string";
}

// ---------------------------------------------------------------- calendar

bool is_leap_year(int64_t year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int days_in_month(int64_t year, int month) {
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    return month == 2 && is_leap_year(year) ? 29 : kDays[month - 1];
}

// Shifts the year to start in March so the leap day falls at the end, then counts whole
// 400-year eras; exact for the whole int32 year range.
int64_t days_from_civil(int64_t year, int month, int day) {
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t year_of_era = year - era * 400;
    const int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t day_of_era =
        year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + day_of_era - 719468;
}

Date civil_from_days(int64_t days) {
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t day_of_era = days - era * 146097;
    const int64_t year_of_era =
        (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const int64_t day_of_year =
        day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const int64_t shifted_month = (5 * day_of_year + 2) / 153;
    const int day = static_cast<int>(day_of_year - (153 * shifted_month + 2) / 5 + 1);
    const int month = static_cast<int>(shifted_month < 10 ? shifted_month + 3 : shifted_month - 9);
    const int64_t year = year_of_era + era * 400 + (month <= 2);
    return Date{static_cast<int32_t>(year), static_cast<uint8_t>(month), static_cast<uint8_t>(day)};
}

// ---------------------------------------------------------------- pattern parsing

Result<PatternFields, TimeParseError> parse_pattern(std::string_view format,
                                                    std::string_view input) {
    PatternFields fields;
    size_t pos = 0;
    for (size_t f = 0; f < format.size(); ++f) {
        const char c = format[f];
        if (c != '%') {
            if (pos >= input.size()) return Failure{TimeParseError::TooShort};
            if (input[pos] != c) return Failure{TimeParseError::Invalid};
            ++pos;
            continue;
        }
        if (++f >= format.size()) return Failure{TimeParseError::BadFormat};
        std::optional<TimeParseError> error;
        switch (format[f]) {
            case 'Y': {
                int32_t year = 0;
                error = read_year(input, pos, year);
                if (!error) fields.year = year;
                break;
            }
            case 'm':
                error = read_field(input, pos, 1, 12, fields.month);
                break;
            case 'd':
                error = read_field(input, pos, 1, 31, fields.day);
                break;
            case 'H':
                error = read_field(input, pos, 0, 23, fields.hour);
                break;
            case 'M':
                error = read_field(input, pos, 0, 59, fields.minute);
                break;
            case 'S':
                error = read_field(input, pos, 0, 59, fields.second);
                break;
            case '.':
                if (f + 1 >= format.size() || format[f + 1] != 'f') {
                    return Failure{TimeParseError::BadFormat};
                }
                ++f;
                error = read_fraction(input, pos, fields.nanosecond);
                break;
            default:
                return Failure{TimeParseError::BadFormat};
        }
        if (error) return Failure{*error};
    }
    if (pos < input.size()) return Failure{TimeParseError::TooLong};
    return fields;
}

Result<Date, TimeParseError> parse_date_pattern(std::string_view text) {
    auto fields = parse_pattern("%Y-%m-%d", text);
    if (!fields) return Failure{fields.error()};
    return resolve_date(fields.value());
}

Result<Time, TimeParseError> parse_time_pattern(std::string_view text) {
    auto fields = parse_pattern("%H:%M:%S%.f", text);
    if (!fields) fields = parse_pattern("%H:%M:%S", text);
    if (!fields) return Failure{fields.error()};
    return resolve_time(fields.value());
}

Result<DateTime, TimeParseError> parse_datetime_engine(std::string_view text) {
    if (auto utc = parse_rfc3339_utc(text)) return *utc;
    auto with_fraction = parse_datetime_pattern("%Y-%m-%dT%H:%M:%S%.f", text);
    if (with_fraction) return with_fraction;
    return parse_datetime_pattern("%Y-%m-%dT%H:%M:%S", text);
}

// ---------------------------------------------------------------- strict ISO parsing

std::optional<Date> parse_iso_date(std::string_view text) {
    if (text.size() != 10) return std::nullopt;
    return iso_date_prefix(text);
}

std::optional<Time> parse_iso_time(std::string_view text) {
    size_t used = 0;
    auto time = iso_time_prefix(text, used);
    if (!time || used != text.size()) return std::nullopt;
    return time;
}

std::optional<DateTime> parse_iso_datetime(std::string_view text) {
    if (auto utc = parse_rfc3339_utc(text)) return utc;
    if (text.size() < 19 || text[10] != 'T') return std::nullopt;
    auto date = iso_date_prefix(text);
    if (!date) return std::nullopt;
    auto time = parse_iso_time(text.substr(11));
    if (!time) return std::nullopt;
    return DateTime{*date, *time};
}

std::optional<DateTime> parse_rfc3339_utc(std::string_view text) {
    if (text.size() < 20) return std::nullopt;
    const char separator = text[10];
    if (separator != 'T' && separator != 't' && separator != ' ') return std::nullopt;
    auto date = iso_date_prefix(text);
    if (!date) return std::nullopt;
    size_t used = 0;
    auto time = iso_time_prefix(text.substr(11), used);
    if (!time) return std::nullopt;
    const std::string_view zone = text.substr(11 + used);

    int offset_minutes = 0;
    if (zone == "Z" || zone == "z") {
        offset_minutes = 0;
    } else {
        if (zone.size() != 6 || (zone[0] != '+' && zone[0] != '-') || zone[3] != ':') {
            return std::nullopt;
        }
        int hours = 0;
        int minutes = 0;
        if (!fixed(zone.data() + 1, 2, hours) || !fixed(zone.data() + 4, 2, minutes) ||
            hours > 23 || minutes > 59) {
            return std::nullopt;
        }
        offset_minutes = (hours * 60 + minutes) * (zone[0] == '-' ? -1 : 1);
    }

    // Only the rare offsets that cross midnight pay for the calendar round trip.
    int seconds = time->hour * 3600 + time->minute * 60 + time->second - offset_minutes * 60;
    Date utc_date = *date;
    if (seconds < 0 || seconds >= 86400) {
        const int shift = seconds < 0 ? -1 : 1;
        seconds -= shift * 86400;
        utc_date = civil_from_days(days_from_civil(date->year, date->month, date->day) + shift);
    }
    return DateTime{utc_date, Time{static_cast<uint8_t>(seconds / 3600),
                                   static_cast<uint8_t>(seconds / 60 % 60),
                                   static_cast<uint8_t>(seconds % 60), time->nanosecond}};
}

// ---------------------------------------------------------------- formatting

void append_date(std::string& out, const Date& date) {
    const int64_t year = date.year;
    if (year < 0 || year > 9999) out.push_back(year < 0 ? '-' : '+');
    append_padded(out, static_cast<uint64_t>(year < 0 ? -year : year), 4);
    out.push_back('-');
    append_padded(out, date.month, 2);
    out.push_back('-');
    append_padded(out, date.day, 2);
}

void append_time(std::string& out, const Time& time) {
    append_padded(out, time.hour, 2);
    out.push_back(':');
    append_padded(out, time.minute, 2);
    out.push_back(':');
    append_padded(out, time.second, 2);
    const uint32_t ns = time.nanosecond;
    if (ns == 0) return;
    out.push_back('.');
    if (ns % 1000000 == 0) {
        append_padded(out, ns / 1000000, 3);
    } else if (ns % 1000 == 0) {
        append_padded(out, ns / 1000, 6);
    } else {
        append_padded(out, ns, 9);
    }
}

void append_datetime_utc(std::string& out, const DateTime& value) {
    append_date(out, value.date);
    out.push_back('T');
    append_time(out, value.time);
    out.append("+00:00");
}

}  // namespace sorvel::text
