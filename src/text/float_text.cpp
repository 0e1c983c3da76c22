#include "text/float_text.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <system_error>

namespace sorvel::text {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

char to_lower_ascii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equals_ignoring_case(std::string_view text, std::string_view lower_word) {
    if (text.size() != lower_word.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (to_lower_ascii(text[i]) != lower_word[i]) return false;
    }
    return true;
}

// The shape of a number that passed the grammar check, kept so an out-of-range conversion can
// tell overflow from underflow without a second parse.
struct DecimalShape {
    // Decimal exponent of the leading nonzero digit, as in scientific notation (clamped), or
    // nullopt when every digit is zero.
    std::optional<std::int64_t> leading_exponent;
};

// Far beyond any double's range, yet small enough that adding a text length cannot overflow.
constexpr std::int64_t kExponentLimit = std::int64_t{1} << 40;

// Checks "digits [. digits] [e [sign] digits]" over the whole unsigned text (at least one mantissa
// digit) and works out where the leading nonzero digit sits.
std::optional<DecimalShape> scan_decimal(std::string_view text) {
    std::size_t pos = 0;
    std::size_t mantissa_digits = 0;
    std::optional<std::int64_t> leading;  // scientific exponent of the first nonzero digit

    const std::size_t int_begin = pos;
    while (pos < text.size() && is_digit(text[pos]))
        ++pos;
    const std::size_t int_end = pos;
    mantissa_digits += int_end - int_begin;
    for (std::size_t i = int_begin; i < int_end; ++i) {
        if (text[i] != '0') {
            leading = static_cast<std::int64_t>(int_end - i) - 1;
            break;
        }
    }

    if (pos < text.size() && text[pos] == '.') {
        ++pos;
        const std::size_t frac_begin = pos;
        while (pos < text.size() && is_digit(text[pos]))
            ++pos;
        mantissa_digits += pos - frac_begin;
        if (!leading) {
            for (std::size_t i = frac_begin; i < pos; ++i) {
                if (text[i] != '0') {
                    leading = -static_cast<std::int64_t>(i - frac_begin) - 1;
                    break;
                }
            }
        }
    }
    if (mantissa_digits == 0) return std::nullopt;

    std::int64_t exponent = 0;
    if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
        ++pos;
        bool negative = false;
        if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
            negative = text[pos] == '-';
            ++pos;
        }
        const std::size_t exp_begin = pos;
        while (pos < text.size() && is_digit(text[pos])) {
            if (exponent < kExponentLimit) exponent = exponent * 10 + (text[pos] - '0');
            ++pos;
        }
        if (pos == exp_begin) return std::nullopt;
        if (negative) exponent = -exponent;
    }
    if (pos != text.size()) return std::nullopt;

    if (leading) *leading += exponent;
    return DecimalShape{leading};
}

}  // namespace

std::optional<double> parse_float_text(std::string_view text) {
    bool negative = false;
    std::string_view body = text;
    if (!body.empty() && (body.front() == '+' || body.front() == '-')) {
        negative = body.front() == '-';
        body.remove_prefix(1);
    }
    const double sign = negative ? -1.0 : 1.0;

    if (equals_ignoring_case(body, "inf") || equals_ignoring_case(body, "infinity")) {
        return std::copysign(std::numeric_limits<double>::infinity(), sign);
    }
    if (equals_ignoring_case(body, "nan")) {
        return std::copysign(std::numeric_limits<double>::quiet_NaN(), sign);
    }

    const std::optional<DecimalShape> shape = scan_decimal(body);
    if (!shape) return std::nullopt;

    // The grammar is already settled, so from_chars only converts; it must consume everything.
    double value = 0.0;
    const char* const first = body.data();
    const char* const last = body.data() + body.size();
    const std::from_chars_result result =
        std::from_chars(first, last, value, std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range) {
        // A nonzero value that is not representable: at least 1 in magnitude means it is past the
        // largest double, below 1 means it lies under the smallest subnormal.
        const bool overflow = shape->leading_exponent && *shape->leading_exponent >= 0;
        value = overflow ? std::numeric_limits<double>::infinity() : 0.0;
    } else if (result.ec != std::errc{} || result.ptr != last) {
        return std::nullopt;
    }
    return std::copysign(value, sign);
}

}  // namespace sorvel::text
