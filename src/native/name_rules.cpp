#include "native/name_rules.hpp"

#include <cstddef>

#include "text/alphabetic.hpp"

namespace sorvel::native {

namespace {

constexpr std::size_t kMaxNameCodePoints = 120;
constexpr char32_t kInvalidSequence = 0xFFFFFFFF;  // outside Unicode, never alphabetic

bool is_ascii_digit(unsigned char c) { return c >= '0' && c <= '9'; }

// Decodes the non-ASCII sequence starting at text[pos] (whose lead byte is >= 0x80) and advances
// pos past it. The second byte's allowed range depends on the lead byte, which rules out overlong
// forms, surrogates and values past U+10FFFF without decoding them first. A malformed sequence
// yields kInvalidSequence and consumes its maximal valid prefix (at least one byte), so it counts
// as one character, the way a replacing decoder would report it.
char32_t decode_multibyte(std::string_view text, std::size_t& pos) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    std::size_t length = 0;
    unsigned char second_low = 0x80;
    unsigned char second_high = 0xBF;
    char32_t value = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0F;
        if (lead == 0xE0) second_low = 0xA0;   // below U+0800 would be overlong
        if (lead == 0xED) second_high = 0x9F;  // U+D800..U+DFFF are surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07;
        if (lead == 0xF0) second_low = 0x90;   // below U+10000 would be overlong
        if (lead == 0xF4) second_high = 0x8F;  // past U+10FFFF
    } else {
        ++pos;
        return kInvalidSequence;
    }
    std::size_t used = 1;
    for (; used < length && pos + used < text.size(); ++used) {
        const auto byte = static_cast<unsigned char>(text[pos + used]);
        const unsigned char low = used == 1 ? second_low : 0x80;
        const unsigned char high = used == 1 ? second_high : 0xBF;
        if (byte < low || byte > high) break;
        value = (value << 6) | (byte & 0x3F);
    }
    pos += used;
    return used == length ? value : kInvalidSequence;
}

bool is_ascii_name_letter(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-';
}

}  // namespace

bool is_national_id(std::string_view utf8) {
    if (utf8.size() != 13 || utf8[8] != '-') return false;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        if (i != 8 && !is_ascii_digit(static_cast<unsigned char>(utf8[i]))) return false;
    }
    return true;
}

NameFaults check_name(std::string_view utf8) {
    bool has_space = false;
    bool has_digit = false;
    bool invalid_char = false;
    std::size_t code_points = 0;

    std::size_t pos = 0;
    while (pos < utf8.size()) {
        ++code_points;
        const auto byte = static_cast<unsigned char>(utf8[pos]);
        if (byte < 0x80) {
            // ASCII never needs the Unicode table.
            ++pos;
            if (byte == ' ') {
                has_space = true;
            } else if (is_ascii_digit(byte)) {
                has_digit = true;
            } else if (!is_ascii_name_letter(byte)) {
                invalid_char = true;
            }
            continue;
        }
        const char32_t code_point = decode_multibyte(utf8, pos);
        // U+0080..U+00A9 holds controls, symbols and punctuation only; letters start at U+00AA.
        if (code_point < 0xAA || !text::is_alphabetic(code_point)) invalid_char = true;
    }

    return NameFaults{
        .too_long = code_points > kMaxNameCodePoints,
        .no_space = !has_space,
        .has_digit = has_digit,
        .invalid_char = invalid_char,
    };
}

template <class Char>
NameFaults check_name_chars(const Char* chars, std::size_t length) {
    bool has_space = false;
    bool has_digit = false;
    bool invalid_char = false;
    for (std::size_t i = 0; i < length; ++i) {
        const char32_t c = chars[i];
        if (c < 0x80) {
            if (c == ' ') {
                has_space = true;
            } else if (c >= '0' && c <= '9') {
                has_digit = true;
            } else if (!is_ascii_name_letter(static_cast<unsigned char>(c))) {
                invalid_char = true;
            }
        } else if (c < 0xAA || !text::is_alphabetic(c)) {
            invalid_char = true;
        }
    }
    return NameFaults{
        .too_long = length > kMaxNameCodePoints,
        .no_space = !has_space,
        .has_digit = has_digit,
        .invalid_char = invalid_char,
    };
}

template NameFaults check_name_chars(const std::uint8_t*, std::size_t);
template NameFaults check_name_chars(const std::uint16_t*, std::size_t);
template NameFaults check_name_chars(const std::uint32_t*, std::size_t);

}  // namespace sorvel::native
