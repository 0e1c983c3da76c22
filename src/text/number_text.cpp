#include "text/number_text.hpp"

#include <charconv>
#include <cmath>

namespace sorvel::text {

void append_double(std::string& out, double value) {
    if (std::isnan(value)) {
        out.append("NaN");
        return;
    }
    if (std::isinf(value)) {
        out.append(value < 0 ? "-inf" : "inf");
        return;
    }
    // Scientific form gives the shortest round-trip digits and their exponent, e.g. "-1.25e-07";
    // laying those digits out positionally keeps the round trip and never shows an exponent.
    char sci[32];
    const char* const sci_end =
        std::to_chars(sci, sci + sizeof sci, value, std::chars_format::scientific).ptr;
    const char* p = sci;
    if (*p == '-') {
        out.push_back('-');
        ++p;
    }
    char digits[20];
    int count = 0;
    for (; p < sci_end && *p != 'e'; ++p) {
        if (*p != '.') digits[count++] = *p;
    }
    int exponent = 0;
    std::from_chars(p + 1 + (p[1] == '+'), sci_end, exponent);

    const int integer_digits = exponent + 1;
    if (integer_digits <= 0) {
        out.append("0.");
        out.append(static_cast<size_t>(-integer_digits), '0');
        out.append(digits, static_cast<size_t>(count));
    } else if (integer_digits >= count) {
        out.append(digits, static_cast<size_t>(count));
        out.append(static_cast<size_t>(integer_digits - count), '0');
    } else {
        out.append(digits, static_cast<size_t>(integer_digits));
        out.push_back('.');
        out.append(digits + integer_digits, static_cast<size_t>(count - integer_digits));
    }
}

void append_int(std::string& out, int64_t value) {
    char buf[24];
    const char* end = std::to_chars(buf, buf + sizeof buf, value).ptr;
    out.append(buf, static_cast<size_t>(end - buf));
}

void append_uint(std::string& out, uint64_t value) {
    char buf[24];
    const char* end = std::to_chars(buf, buf + sizeof buf, value).ptr;
    out.append(buf, static_cast<size_t>(end - buf));
}

}  // namespace sorvel::text
