#include "text/text_forms.hpp"

#include <charconv>
#include <cstring>

namespace sorvel::text {

namespace {

// Two digits of 0..99 at once: most fields of a date or time are exactly that.
constexpr char kPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

char* two(char* out, unsigned value) {
    std::memcpy(out, kPairs + 2 * value, 2);
    return out + 2;
}

// `value` in at least `width` digits, zero padded.
char* padded(char* out, uint64_t value, int width) {
    char buf[24];
    const char* end = std::to_chars(buf, buf + sizeof buf, value).ptr;
    const int length = int(end - buf);
    for (int pad = length; pad < width; ++pad)
        *out++ = '0';
    std::memcpy(out, buf, size_t(length));
    return out + length;
}

// `value` (below 10**width) in exactly `width` digits, zero padded.
char* fixed(char* out, uint32_t value, int width) {
    for (int i = width - 1; i >= 0; --i) {
        out[i] = char('0' + value % 10);
        value /= 10;
    }
    return out + width;
}

constexpr u128 kTenPow19 = 10000000000000000000ULL;

}  // namespace

char* write_decimal(char* out, const Decimal& value) {
    char digits[40];
    int count = 0;
    if (value.mantissa <= u128(UINT64_MAX)) {
        count = int(std::to_chars(digits, digits + 20, uint64_t(value.mantissa)).ptr - digits);
    } else {
        const uint64_t high = uint64_t(value.mantissa / kTenPow19);
        const uint64_t low = uint64_t(value.mantissa % kTenPow19);
        char* p = std::to_chars(digits, digits + 20, high).ptr;
        p = padded(p, low, 19);
        count = int(p - digits);
    }
    const int scale = value.scale;
    if (value.negative) *out++ = '-';
    if (scale == 0) {
        std::memcpy(out, digits, size_t(count));
        return out + count;
    }
    if (count > scale) {
        std::memcpy(out, digits, size_t(count - scale));
        out += count - scale;
        *out++ = '.';
        std::memcpy(out, digits + count - scale, size_t(scale));
        return out + scale;
    }
    *out++ = '0';
    *out++ = '.';
    for (int pad = count; pad < scale; ++pad)
        *out++ = '0';
    std::memcpy(out, digits, size_t(count));
    return out + count;
}

char* write_date(char* out, const Date& date) {
    const int64_t year = date.year;
    if (year >= 0 && year <= 9999) {
        out = two(out, unsigned(year / 100));
        out = two(out, unsigned(year % 100));
    } else {
        *out++ = year < 0 ? '-' : '+';
        out = padded(out, uint64_t(year < 0 ? -year : year), 4);
    }
    *out++ = '-';
    out = date.month < 100 ? two(out, date.month) : padded(out, date.month, 2);
    *out++ = '-';
    return date.day < 100 ? two(out, date.day) : padded(out, date.day, 2);
}

char* write_time(char* out, const Time& time) {
    if (time.hour < 100 && time.minute < 100 && time.second < 100) {
        out = two(out, time.hour);
        *out++ = ':';
        out = two(out, time.minute);
        *out++ = ':';
        out = two(out, time.second);
    } else {
        out = padded(out, time.hour, 2);
        *out++ = ':';
        out = padded(out, time.minute, 2);
        *out++ = ':';
        out = padded(out, time.second, 2);
    }
    const uint32_t ns = time.nanosecond;
    if (ns == 0) return out;
    *out++ = '.';
    if (ns % 1000000 == 0) return fixed(out, ns / 1000000, 3);
    if (ns % 1000 == 0) return fixed(out, ns / 1000, 6);
    return fixed(out, ns, 9);
}

char* write_datetime_utc(char* out, const DateTime& value) {
    out = write_date(out, value.date);
    *out++ = 'T';
    out = write_time(out, value.time);
    std::memcpy(out, "+00:00", 6);
    return out + 6;
}

char* write_base64(char* out, const uint8_t* data, size_t size) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    size_t i = 0;
    for (; i + 3 <= size; i += 3) {
        const uint32_t group = uint32_t{data[i]} << 16 | uint32_t{data[i + 1]} << 8 | data[i + 2];
        *out++ = kAlphabet[group >> 18];
        *out++ = kAlphabet[group >> 12 & 0x3F];
        *out++ = kAlphabet[group >> 6 & 0x3F];
        *out++ = kAlphabet[group & 0x3F];
    }
    const size_t rest = size - i;
    if (rest == 0) return out;
    const uint32_t group = uint32_t{data[i]} << 16 | (rest == 2 ? uint32_t{data[i + 1]} << 8 : 0);
    *out++ = kAlphabet[group >> 18];
    *out++ = kAlphabet[group >> 12 & 0x3F];
    *out++ = rest == 2 ? kAlphabet[group >> 6 & 0x3F] : '=';
    *out++ = '=';
    return out;
}

}  // namespace sorvel::text
