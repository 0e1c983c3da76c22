#include "text/plain_forms.hpp"

#include <cstddef>
#include <cstring>

#include "text/datetime.hpp"
#include "text/byte_words.hpp"

namespace sorvel::text {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The `N` digits at `at` as a number, or -1; the caller has checked the text's length. Unrolled,
// with one test for the whole run.
template <size_t N>
int digits_at(std::string_view text, size_t at) {
    const char* p = text.data() + at;
    unsigned value = 0, bad = 0;
    for (size_t i = 0; i < N; ++i) {
        const unsigned digit = unsigned(static_cast<unsigned char>(p[i])) - '0';
        bad |= unsigned(digit > 9);
        value = value * 10 + digit;
    }
    return bad != 0 ? -1 : int(value);
}

[[gnu::always_inline]] inline std::optional<PlainDate> read_date(std::string_view text) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
    // YYYY-MM- in one word (digits at bytes 0-3, 5 and 6), DD in another.
    const uint64_t head = byte_words::load<8>(text.data());
    const uint64_t tail = byte_words::load<2>(text.data() + 8);
    if (!byte_words::digits_at(head, 0x0080800080808080ULL) ||
        !byte_words::digits_at(tail, 0x8080ULL))
        return std::nullopt;
    const uint64_t pairs = byte_words::digit_pairs(head);
    const int year = int(byte_words::byte_at(pairs, 0) * 100 + byte_words::byte_at(pairs, 2));
    const int month = int(byte_words::byte_at(pairs, 5));
    const int day = int(byte_words::byte_at(byte_words::digit_pairs(tail), 0));
    if (year < 1 || month < 1 || month > 12 || day < 1) return std::nullopt;
    if (day > 28 && day > days_in_month(year, month)) return std::nullopt;
    return PlainDate{year, month, day};
}

}  // namespace

std::optional<PlainDate> parse_plain_date(std::string_view text) { return read_date(text); }

namespace {

[[gnu::always_inline]] inline std::optional<PlainTime> read_time(std::string_view text) {
    if (text.size() < 5 || text[2] != ':') return std::nullopt;
    int hour, minute, second = 0, micro = 0;
    if (text.size() >= 8) {
        // HH:MM:SS in one word: digits at bytes 0, 1, 3, 4, 6 and 7.
        const uint64_t word = byte_words::load<8>(text.data());
        if (text[5] != ':' || !byte_words::digits_at(word, 0x8080008080008080ULL))
            return std::nullopt;
        const uint64_t pairs = byte_words::digit_pairs(word);
        hour = int(byte_words::byte_at(pairs, 0));
        minute = int(byte_words::byte_at(pairs, 3));
        second = int(byte_words::byte_at(pairs, 6));
    } else {
        hour = digits_at<2>(text, 0);
        minute = digits_at<2>(text, 3);
    }
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59) return std::nullopt;
    if (text.size() > 5) {
        if (text.size() < 8 || text[5] != ':') return std::nullopt;
        if (second > 59) return std::nullopt;
        if (text.size() > 8) {
            size_t fraction = text.size() - 9;
            if (text[8] != '.') return std::nullopt;
            if (fraction == 6) {
                micro = digits_at<6>(text, 9);
            } else if (fraction == 3) {
                micro = digits_at<3>(text, 9);
                if (micro >= 0) micro *= 1000;
            } else {
                return std::nullopt;
            }
            if (micro < 0) return std::nullopt;
        }
    }
    return PlainTime{hour, minute, second, micro};
}

}  // namespace

std::optional<PlainTime> parse_plain_time(std::string_view text) { return read_time(text); }

std::optional<PlainDateTime> parse_plain_datetime(std::string_view text) {
    if (text.size() < 16 || (text[10] != 'T' && text[10] != ' ')) return std::nullopt;
    auto date = read_date(text.substr(0, 10));
    if (!date) return std::nullopt;
    std::string_view rest = text.substr(11);
    PlainDateTime result{*date, {}, false, 0};
    if (!rest.empty() && rest.back() == 'Z') {
        result.has_offset = true;
        rest.remove_suffix(1);
    } else if (rest.size() > 6 && (rest[rest.size() - 6] == '+' || rest[rest.size() - 6] == '-') &&
               rest[rest.size() - 3] == ':') {
        std::string_view offset = rest.substr(rest.size() - 6);
        int hours = digits_at<2>(offset, 1), minutes = digits_at<2>(offset, 4);
        if (hours < 0 || hours > 23 || minutes < 0 || minutes > 59) return std::nullopt;
        result.has_offset = true;
        result.offset_minutes = (hours * 60 + minutes) * (offset[0] == '-' ? -1 : 1);
        rest.remove_suffix(6);
    }
    auto time = read_time(rest);
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

std::optional<std::array<unsigned char, 16>> parse_plain_uuid(std::string_view text) {
    // The 32 digits side by side: the hyphenated form's groups are moved together first.
    char digits[32];
    if (text.size() == 36) {
        if (text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-')
            return std::nullopt;
        std::memcpy(digits, text.data(), 8);
        std::memcpy(digits + 8, text.data() + 9, 4);
        std::memcpy(digits + 12, text.data() + 14, 4);
        std::memcpy(digits + 16, text.data() + 19, 4);
        std::memcpy(digits + 20, text.data() + 24, 12);
    } else if (text.size() == 32) {
        std::memcpy(digits, text.data(), 32);
    } else {
        return std::nullopt;
    }
    std::array<unsigned char, 16> bytes{};
    bool valid = true;
    for (size_t group = 0; group < 4; ++group)
        valid = byte_words::hex8(digits + 8 * group, bytes.data() + 4 * group) && valid;
    if (!valid) return std::nullopt;
    return bytes;
}

}  // namespace sorvel::text
