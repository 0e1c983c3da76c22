#include "text/plain_forms.hpp"

#include <cstddef>

#include "text/datetime.hpp"

namespace sorvel::text {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Exactly `count` digits at `at`, or -1.
int digits_at(std::string_view text, size_t at, size_t count) {
    if (at + count > text.size()) return -1;
    int value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (!is_digit(text[i])) return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

}  // namespace

std::optional<PlainDate> parse_plain_date(std::string_view text) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
    int year = digits_at(text, 0, 4), month = digits_at(text, 5, 2), day = digits_at(text, 8, 2);
    if (year < 1 || month < 1 || month > 12 || day < 1) return std::nullopt;
    if (day > days_in_month(year, month)) return std::nullopt;
    return PlainDate{year, month, day};
}

std::optional<PlainTime> parse_plain_time(std::string_view text) {
    if (text.size() < 5 || text[2] != ':') return std::nullopt;
    int hour = digits_at(text, 0, 2), minute = digits_at(text, 3, 2), second = 0, micro = 0;
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59) return std::nullopt;
    if (text.size() > 5) {
        if (text.size() < 8 || text[5] != ':') return std::nullopt;
        second = digits_at(text, 6, 2);
        if (second < 0 || second > 59) return std::nullopt;
        if (text.size() > 8) {
            size_t fraction = text.size() - 9;
            if (text[8] != '.' || (fraction != 3 && fraction != 6)) return std::nullopt;
            micro = digits_at(text, 9, fraction);
            if (micro < 0) return std::nullopt;
            if (fraction == 3) micro *= 1000;
        }
    }
    return PlainTime{hour, minute, second, micro};
}

std::optional<PlainDateTime> parse_plain_datetime(std::string_view text) {
    if (text.size() < 16 || (text[10] != 'T' && text[10] != ' ')) return std::nullopt;
    auto date = parse_plain_date(text.substr(0, 10));
    if (!date) return std::nullopt;
    std::string_view rest = text.substr(11);
    PlainDateTime result{*date, {}, false, 0};
    if (!rest.empty() && rest.back() == 'Z') {
        result.has_offset = true;
        rest.remove_suffix(1);
    } else if (rest.size() > 6 && (rest[rest.size() - 6] == '+' || rest[rest.size() - 6] == '-') &&
               rest[rest.size() - 3] == ':') {
        std::string_view offset = rest.substr(rest.size() - 6);
        int hours = digits_at(offset, 1, 2), minutes = digits_at(offset, 4, 2);
        if (hours < 0 || hours > 23 || minutes < 0 || minutes > 59) return std::nullopt;
        result.has_offset = true;
        result.offset_minutes = (hours * 60 + minutes) * (offset[0] == '-' ? -1 : 1);
        rest.remove_suffix(6);
    }
    auto time = parse_plain_time(rest);
    if (!time) return std::nullopt;
    result.time = *time;
    return result;
}

std::optional<DecimalShape> parse_decimal_shape(std::string_view text) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int64_t digits = 0, fraction = 0;
    uint64_t coefficient = 0;
    bool any = false, nonzero = false;
    // Leading zeros add nothing to the coefficient; past 19 digits it is not kept.
    auto take = [&](char c) {
        if (c != '0') nonzero = true;
        if (nonzero && ++digits <= kDecimalWordDigits) coefficient = coefficient * 10 + (c - '0');
    };
    for (; i < text.size() && is_digit(text[i]); ++i) {
        any = true;
        take(text[i]);
    }
    if (i < text.size() && text[i] == '.') {
        for (++i; i < text.size() && is_digit(text[i]); ++i) {
            any = true;
            ++fraction;
            take(text[i]);
        }
    }
    if (!any) return std::nullopt;
    int64_t exponent = 0;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        bool negative_exponent = false;
        if (i < text.size() && (text[i] == '+' || text[i] == '-'))
            negative_exponent = text[i++] == '-';
        size_t start = i;
        for (; i < text.size() && is_digit(text[i]); ++i)
            exponent = exponent * 10 + (text[i] - '0');
        if (i == start || i - start > 9) return std::nullopt;
        if (negative_exponent) exponent = -exponent;
    }
    if (i != text.size()) return std::nullopt;
    if (digits > kDecimalWordDigits) coefficient = 0;
    return DecimalShape{nonzero ? digits : 1, exponent - fraction, !nonzero, coefficient, negative};
}

namespace {

// Hexadecimal digit values; 0xFF for every other byte.
constexpr std::array<unsigned char, 256> kHexValues = [] {
    std::array<unsigned char, 256> table{};
    for (auto& value : table)
        value = 0xFF;
    for (int c = '0'; c <= '9'; ++c)
        table[size_t(c)] = static_cast<unsigned char>(c - '0');
    for (int c = 'a'; c <= 'f'; ++c)
        table[size_t(c)] = static_cast<unsigned char>(c - 'a' + 10);
    for (int c = 'A'; c <= 'F'; ++c)
        table[size_t(c)] = static_cast<unsigned char>(c - 'A' + 10);
    return table;
}();

}  // namespace

std::optional<std::array<unsigned char, 16>> parse_plain_uuid(std::string_view text) {
    const bool hyphenated = text.size() == 36;
    if (!hyphenated && text.size() != 32) return std::nullopt;
    if (hyphenated && (text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-'))
        return std::nullopt;
    std::array<unsigned char, 16> bytes{};
    unsigned char invalid = 0;
    size_t at = 0;
    for (size_t i = 0; i < 16; ++i) {
        if (hyphenated && (i == 4 || i == 6 || i == 8 || i == 10)) ++at;
        unsigned char high = kHexValues[static_cast<unsigned char>(text[at])];
        unsigned char low = kHexValues[static_cast<unsigned char>(text[at + 1])];
        invalid |= static_cast<unsigned char>(high | low);
        bytes[i] = static_cast<unsigned char>((high << 4) | (low & 0x0F));
        at += 2;
    }
    if (invalid & 0xF0) return std::nullopt;
    return bytes;
}

}  // namespace sorvel::text
