#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace sorvel::native {

// True exactly for eight ASCII digits, a '-', and four ASCII digits ("12345678-1234").
bool is_national_id(std::string_view utf8);

// What is wrong with a person's name; every flag is independent, so a name can have several.
struct NameFaults {
    bool too_long;      // more than 120 code points
    bool no_space;      // no U+0020 anywhere
    bool has_digit;     // contains an ASCII digit 0-9
    bool invalid_char;  // contains a character that is not a letter, '-', space or ASCII digit

    friend bool operator==(const NameFaults&, const NameFaults&) = default;
};

// Checks a name given as UTF-8 in one pass without allocating. Letters are ASCII A-Z and a-z,
// plus every character from U+00AA on with the Unicode Alphabetic property. Each malformed UTF-8
// sequence (its longest valid prefix, or a single stray byte) counts as one invalid character.
NameFaults check_name(std::string_view utf8);

// The same checks on code points as a str stores them (one, two or four bytes each), which need
// no decoding at all. Instantiated for std::uint8_t, std::uint16_t and std::uint32_t.
template <class Char>
NameFaults check_name_chars(const Char* chars, std::size_t length);

}  // namespace sorvel::native
