// The word-at-a-time readers against a character-at-a-time reading: every byte value in every
// position, so that no neighbouring byte or carry can leak into a verdict.
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <string>

#include "check.hpp"
#include "text/byte_words.hpp"
#include "text/datetime.hpp"
#include "text/plain_forms.hpp"

using namespace sorvel::text;

namespace {

int hex_value(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<uint32_t> slow_hex8(const char* p) {
    uint32_t value = 0;
    for (int i = 0; i < 8; ++i) {
        int digit = hex_value(static_cast<unsigned char>(p[i]));
        if (digit < 0) return std::nullopt;
        value = value << 4 | uint32_t(digit);
    }
    return value;
}

// Dates and times read a character at a time, as the word readers must read them.
int slow_digits(const std::string& text, size_t at, size_t count) {
    int value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

std::optional<PlainDate> slow_date(const std::string& text) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
    int year = slow_digits(text, 0, 4), month = slow_digits(text, 5, 2),
        day = slow_digits(text, 8, 2);
    if (year < 1 || month < 1 || month > 12 || day < 1 || day > days_in_month(year, month))
        return std::nullopt;
    return PlainDate{year, month, day};
}

// HH:MM:SS only (the fraction is read as before).
std::optional<PlainTime> slow_time(const std::string& text) {
    if (text.size() != 8 || text[2] != ':' || text[5] != ':') return std::nullopt;
    int hour = slow_digits(text, 0, 2), minute = slow_digits(text, 3, 2),
        second = slow_digits(text, 6, 2);
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59)
        return std::nullopt;
    return PlainTime{hour, minute, second, 0};
}

}  // namespace

// Every byte value at every position of each base text: the two readings agree on whether the
// text is read and, if so, on what it says.
template <class Fast, class Slow, class Same>
void compare_every_byte(std::initializer_list<const char*> bases, Fast fast, Slow slow, Same same) {
    for (const char* base : bases) {
        for (size_t at = 0; base[at] != '\0'; ++at) {
            for (int byte = 0; byte < 256; ++byte) {
                std::string text = base;
                text[at] = static_cast<char>(byte);
                CONTEXT(text);
                auto quick = fast(text);
                auto plain = slow(text);
                CHECK(quick.has_value() == plain.has_value());
                if (quick && plain) CHECK(same(*quick, *plain));
            }
        }
    }
}

TEST_CASE(dates_and_times_read_by_words_agree_with_a_plain_reading) {
    compare_every_byte(
        {"2024-02-29", "0001-01-01", "9999-12-31", "2023-11-30"},
        [](const std::string& text) { return parse_plain_date(text); }, slow_date,
        [](const PlainDate& a, const PlainDate& b) {
            return a.year == b.year && a.month == b.month && a.day == b.day;
        });
    compare_every_byte(
        {"23:59:59", "00:00:00", "10:30:15"},
        [](const std::string& text) { return parse_plain_time(text); }, slow_time,
        [](const PlainTime& a, const PlainTime& b) {
            return a.hour == b.hour && a.minute == b.minute && a.second == b.second;
        });
}

TEST_CASE(hex_words_agree_with_a_plain_reading) {
    // Neighbouring bytes (letters past 'f', hyphens, high bytes) must not leak into a verdict.
    const char* bases[] = {"0123abcdXXXXXXXX", "FEDCba98--------",
                           "ffffffff\x80\x80\x80\x80\x80\x80\x80\x80", "00000000gggggggg"};
    char text[16];
    for (const char* base : bases) {
        for (size_t at = 0; at < 8; ++at) {
            for (int byte = 0; byte < 256; ++byte) {
                std::memcpy(text, base, sizeof text);
                text[at] = static_cast<char>(byte);
                CONTEXT(std::string(base, 8) + ": byte " + std::to_string(byte) + " at " +
                        std::to_string(at));
                unsigned char bytes[4];
                const bool read = byte_words::hex8(text, bytes);
                const std::optional<uint32_t> expected = slow_hex8(text);
                CHECK(read == expected.has_value());
                if (read && expected) {
                    const uint32_t value = uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 |
                                           uint32_t(bytes[2]) << 8 | bytes[3];
                    CHECK(value == *expected);
                }
            }
        }
    }
    unsigned char bytes[4];
    CHECK(byte_words::hex8("0123ABCD", bytes) && bytes[0] == 0x01 && bytes[3] == 0xCD);
}
