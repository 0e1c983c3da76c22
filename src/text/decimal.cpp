#include "text/decimal.hpp"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace sorvel::text {

namespace {

constexpr uint64_t kTenPow19 = 10000000000000000000ULL;

// Writes the decimal digits of `value` (below 2^96, so at most 29 digits) into `buf` and returns
// how many. Splitting at 10^19 keeps the work to one 128-bit division.
int write_mantissa(char* buf, u128 value) {
    const uint64_t high = static_cast<uint64_t>(value / kTenPow19);
    const uint64_t low = static_cast<uint64_t>(value % kTenPow19);
    if (high == 0) return static_cast<int>(std::to_chars(buf, buf + 20, low).ptr - buf);
    char* p = std::to_chars(buf, buf + 20, high).ptr;
    char low_digits[20];
    const int low_len =
        static_cast<int>(std::to_chars(low_digits, low_digits + 20, low).ptr - low_digits);
    std::memset(p, '0', static_cast<size_t>(19 - low_len));
    std::memcpy(p + 19 - low_len, low_digits, static_cast<size_t>(low_len));
    return static_cast<int>(p + 19 - buf);
}

// Reads an optionally signed 32-bit decimal exponent; anything else counts as no exponent.
int32_t read_exponent(std::string_view text) {
    bool negative = false;
    size_t i = 0;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        i = 1;
    }
    if (i == text.size()) return 0;
    int64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') return 0;
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > int64_t{1} << 31) return 0;
    }
    const int64_t value = negative ? -magnitude : magnitude;
    if (value > INT32_MAX || value < INT32_MIN) return 0;
    return static_cast<int32_t>(value);
}

// Digits and places of a plain "int[.frac]" text: the leading zero run of the digits joined
// across the point does not count, but at least one digit always does.
DecimalDigits count_plain(std::string_view text) {
    const size_t point = text.find('.');
    const std::string_view before = text.substr(0, point);
    const std::string_view after =
        point == std::string_view::npos ? std::string_view{} : text.substr(point + 1);
    const uint64_t total = before.size() + after.size();
    uint64_t zeros = 0;
    while (zeros < before.size() && before[zeros] == '0')
        ++zeros;
    if (zeros == before.size()) {
        size_t j = 0;
        while (j < after.size() && after[j] == '0')
            ++j;
        zeros += j;
    }
    return {std::max<uint64_t>(total - zeros, 1), after.size()};
}

}  // namespace

std::string_view describe(DecimalError error) {
    switch (error) {
        case DecimalError::Empty:
            return "Invalid decimal: empty";
        case DecimalError::TwoDecimalPoints:
            return "Invalid decimal: two decimal points";
        case DecimalError::LeadingUnderscore:
            return "Invalid decimal: must start lead with a number";
        case DecimalError::UnknownCharacter:
            return "Invalid decimal: unknown character";
        case DecimalError::NoDigits:
            return "Invalid decimal: no digits found";
        case DecimalError::TooManyDigits:
            return "Invalid decimal: overflow from too many digits";
        case DecimalError::MantissaOverflow:
            return "Invalid decimal: overflow from mantissa after rounding";
    }
    return "Invalid decimal: unknown character";
}

Result<Decimal, DecimalError> parse_decimal(std::string_view text) {
    if (text.empty()) return Failure{DecimalError::Empty};
    const char* p = text.data();
    const char* const end = p + text.size();
    Decimal result;
    if (*p == '+' || *p == '-') {
        result.negative = *p == '-';
        ++p;
    }
    u128 mantissa = 0;
    unsigned scale = 0;
    bool seen_digit = false;
    bool seen_point = false;
    for (; p < end; ++p) {
        const char c = *p;
        if (c >= '0' && c <= '9') {
            const unsigned digit = static_cast<unsigned>(c - '0');
            seen_digit = true;
            // mantissa < 2^96, so mantissa * 10 + 9 cannot wrap 128 bits.
            const u128 next = mantissa * 10 + digit;
            if (!seen_point) {
                if (next >= kDecimalMantissaLimit) return Failure{DecimalError::TooManyDigits};
                mantissa = next;
                continue;
            }
            if (scale < kMaxDecimalScale && next < kDecimalMantissaLimit) {
                mantissa = next;
                ++scale;
                continue;
            }
            // No room for this digit: it only rounds the kept ones, and nothing after it matters.
            if (digit >= 5) {
                ++mantissa;
                if (mantissa >= kDecimalMantissaLimit) {
                    if (scale == 0) return Failure{DecimalError::MantissaOverflow};
                    mantissa = (mantissa + 5) / 10;
                    --scale;
                }
            }
            break;
        }
        if (c == '.') {
            if (seen_point) return Failure{DecimalError::TwoDecimalPoints};
            seen_point = true;
        } else if (c == '_') {
            if (!seen_digit) return Failure{DecimalError::LeadingUnderscore};
        } else {
            return Failure{DecimalError::UnknownCharacter};
        }
    }
    if (!seen_digit) return Failure{DecimalError::NoDigits};
    result.mantissa = mantissa;
    result.scale = static_cast<uint8_t>(scale);
    return result;
}

std::optional<std::string> positional_decimal_text(std::string_view text) {
    constexpr int64_t kKeptIntegerDigits = 40;
    constexpr int64_t kKeptFractionDigits = 30;
    constexpr int64_t kExponentClamp = int64_t{1} << 40;  // far past both limits above

    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    const size_t start = i;
    size_t point = std::string_view::npos;
    for (; i < text.size() && text[i] != 'E' && text[i] != 'e'; ++i) {
        if (text[i] == '.' && point == std::string_view::npos) {
            point = i;
        } else if (text[i] < '0' || text[i] > '9') {
            return std::nullopt;
        }
    }
    const size_t mark = i;
    const int64_t shown_fraction = point == std::string_view::npos ? 0 : int64_t(mark - point - 1);
    if (mark - start - (point == std::string_view::npos ? 0 : 1) == 0) return std::nullopt;
    if (mark == text.size()) return std::nullopt;
    ++i;
    bool negative_exponent = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative_exponent = text[i++] == '-';
    if (i == text.size()) return std::nullopt;
    int64_t exponent = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        exponent = std::min(exponent * 10 + (text[i] - '0'), kExponentClamp);
    }
    if (negative_exponent) exponent = -exponent;

    // The coefficient's digits without the point and without leading zeros (one zero stays).
    std::string digits;
    for (size_t j = start; j < mark; ++j) {
        if (text[j] == '.' || (digits.empty() && text[j] == '0')) continue;
        digits.push_back(text[j]);
    }
    if (digits.empty()) digits.push_back('0');  // not = "0": g++ 12 warns falsely (-Wrestrict)
    exponent -= shown_fraction;
    if (digits == "0" && exponent > 0) exponent = 0;

    std::string out;
    if (negative) out.push_back('-');
    const int64_t count = int64_t(digits.size());
    if (exponent >= 0) {
        out.append(digits, 0, size_t(std::min(count, kKeptIntegerDigits)));
        out.append(size_t(std::clamp<int64_t>(kKeptIntegerDigits - count, 0, exponent)), '0');
        return out;
    }
    const int64_t integer_digits = count + exponent;  // digits before the point
    if (integer_digits >= kKeptIntegerDigits) {
        out.append(digits, 0, size_t(kKeptIntegerDigits));
        return out;
    }
    std::string fraction;
    if (integer_digits > 0) {
        out.append(digits, 0, size_t(integer_digits));
        fraction.assign(digits, size_t(integer_digits),
                        size_t(std::min(count - integer_digits, kKeptFractionDigits)));
    } else {
        out.push_back('0');
        fraction.assign(size_t(std::min(-integer_digits, kKeptFractionDigits)), '0');
        fraction.append(digits, 0,
                        size_t(std::min(count, kKeptFractionDigits - int64_t(fraction.size()))));
    }
    out.push_back('.');
    out += fraction;
    return out;
}

int digit_count(const Decimal& value) {
    char buf[40];
    return write_mantissa(buf, value.mantissa);
}

void append_decimal(std::string& out, const Decimal& value) {
    char digits[40];
    const int count = write_mantissa(digits, value.mantissa);
    const int scale = value.scale;
    if (value.negative) out.push_back('-');
    if (scale == 0) {
        out.append(digits, static_cast<size_t>(count));
    } else if (count > scale) {
        out.append(digits, static_cast<size_t>(count - scale));
        out.push_back('.');
        out.append(digits + count - scale, static_cast<size_t>(scale));
    } else {
        out.append("0.");
        out.append(static_cast<size_t>(scale - count), '0');
        out.append(digits, static_cast<size_t>(count));
    }
}

DecimalDigits count_decimal_text(std::string_view text) {
    if (!text.empty() && text[0] == '-') text.remove_prefix(1);
    const size_t e = text.find_first_of("Ee");
    if (e == std::string_view::npos) return count_plain(text);

    const DecimalDigits base = count_plain(text.substr(0, e));
    const int64_t exponent = read_exponent(text.substr(e + 1));
    const uint64_t digits = base.digits + static_cast<uint64_t>(std::max<int64_t>(exponent, 0));
    const int64_t places = static_cast<int64_t>(base.places) - exponent;
    return {std::max<uint64_t>(digits, 1), static_cast<uint64_t>(std::max<int64_t>(places, 0))};
}

}  // namespace sorvel::text
