#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "check.hpp"
#include "native/name_rules.hpp"

using sorvel::native::check_name;
using sorvel::native::is_national_id;
using sorvel::native::NameFaults;

namespace {

struct IdCase {
    std::string_view text;
    bool valid;
};

constexpr IdCase kIds[] = {
    {"12345678-1234", true},  {"1234567-81234", false},  // dash one place early
    {"123456789-123", false},                            // dash one place late
    {"12345678-123", false},                             // too short
    {"1234567812345", false},                            // no dash
    {"12345678_1234", false},                            // wrong separator
    {"1234a678-1234", false},                            // letter in the first group
    {"12345678-12b4", false},                            // letter in the second group
    {"12345678-123-", false},                            // dash in the second group
    {"-2345678-1234", false},                            // dash in the first group
    {" 2345678-1234", false}, {"", false},
    {"١٢٣٤٥٦٧٨-١٢٣٤", false},  // Arabic-Indic digits are not ASCII digits
};

struct NameCase {
    std::string text;
    NameFaults expected;
};

// Shorthand for the expected flags, in field order: too_long, no_space, has_digit, invalid_char.
constexpr NameFaults faults(bool too_long, bool no_space, bool has_digit, bool invalid_char) {
    return NameFaults{too_long, no_space, has_digit, invalid_char};
}

std::string repeat(std::string_view piece, int count) {
    std::string out;
    for (int i = 0; i < count; ++i)
        out += piece;
    return out;
}

const NameCase kNames[] = {
    {"Jane Doe", faults(false, false, false, false)},
    {"Jane", faults(false, true, false, false)},
    {"", faults(false, true, false, false)},
    {"Jane 2Doe", faults(false, false, true, false)},
    {"Jane O'Doe", faults(false, false, false, true)},
    {"Jean-Luc Picard", faults(false, false, false, false)},
    {"José Núñez", faults(false, false, false, false)},
    {"Jane\tDoe", faults(false, true, false, true)},
    {"\u0663 Jane", faults(false, false, false, true)},  // Arabic-Indic digit is not a digit here
    {"Zoë 0", faults(false, false, true, false)},
    {"李 小龍", faults(false, false, false, false)},
    {"𠀀 Doe", faults(false, false, false, false)},     // four-byte letter
    {"Jane 😀", faults(false, false, false, true)},     // four-byte non-letter
    {"\u00A9 Doe", faults(false, false, false, true)},  // last code point before the letters
    {"\u00AA Doe", faults(false, false, false, false)},
    {"\u00B7 Doe", faults(false, false, false, true)},  // middle dot
    {"\u00A0Jane", faults(false, true, false, true)},   // no-break space is not a space
    {"Jane_Doe", faults(false, true, false, true)},
    {"@ [ ` {", faults(false, false, false, true)},  // neighbours of the ASCII letter ranges
    // Length counts code points, not bytes.
    {repeat("a", 120), faults(false, true, false, false)},
    {repeat("a", 121), faults(true, true, false, false)},
    {repeat("é", 50) + " " + repeat("é", 49), faults(false, false, false, false)},
    {repeat("é", 60) + " " + repeat("é", 60), faults(true, false, false, false)},
    {repeat("李", 119) + " ", faults(false, false, false, false)},
    // The scan goes on after the length limit and after the first fault.
    {repeat("a", 130) + " 1", faults(true, false, true, false)},
    {std::string("'").append(repeat("a", 125)).append(" 7"), faults(true, false, true, true)},
    // Malformed UTF-8 is never a letter, and bytes after it are still examined.
    {"Jane \x80", faults(false, false, false, true)},
    {"Jane \xC3", faults(false, false, false, true)},            // truncated two-byte sequence
    {"\xC3 Jane", faults(false, false, false, true)},            // lead byte followed by a space
    {"\xC0\xA0Jane", faults(false, true, false, true)},          // overlong encoding of a space
    {"Jos\xE0\x83\xA9 Doe", faults(false, false, false, true)},  // overlong encoding of a letter
    {"Jos\xC3\xA9\xA9 Doe", faults(false, false, false, true)},  // stray continuation byte
    {"Jane\xE4\xB8 1", faults(false, false, true, true)},
    // A malformed sequence counts as one character per maximal valid prefix, as a replacing
    // decoder reports it: a truncated sequence is one, each byte of a surrogate is one.
    {repeat("a", 118) + " \xE4\xB8", faults(false, false, false, true)},
    {repeat("a", 118) + " \xF0\x9F\x98", faults(false, false, false, true)},
    {repeat("a", 118) + " \xED\xA0\x80", faults(true, false, false, true)},  // surrogate
    {repeat("a", 118) + " \xF4\x90\x80", faults(true, false, false, true)},  // past U+10FFFF
    {repeat("a", 118) + " \xE0\x80\x80", faults(true, false, false, true)},  // overlong
    {repeat("a", 118) + " \xF0\x80\x80", faults(true, false, false, true)},  // overlong
    {repeat("a", 118) + " \xC3\xC3", faults(true, false, false, true)},
    {repeat("a", 118) + " \xC1\x81", faults(true, false, false, true)},  // C1 never leads
    {repeat("a", 118) + " \xF5\x80", faults(true, false, false, true)},  // nor does F5
};

}  // namespace

TEST_CASE(national_id_shapes) {
    for (const IdCase& c : kIds) {
        CONTEXT(c.text);
        CHECK_EQ(is_national_id(c.text), c.valid);
    }
}

TEST_CASE(check_name_faults) {
    for (const NameCase& c : kNames) {
        CONTEXT(c.text);
        const NameFaults got = check_name(c.text);
        CHECK_EQ(got.too_long, c.expected.too_long);
        CHECK_EQ(got.no_space, c.expected.no_space);
        CHECK_EQ(got.has_digit, c.expected.has_digit);
        CHECK_EQ(got.invalid_char, c.expected.invalid_char);
    }
}

// The name is exactly its view: an embedded NUL is a character like any other, and a sequence cut
// off by the end of the view is malformed even if the bytes after the view would complete it.
TEST_CASE(check_name_stays_within_view) {
    CHECK(check_name(std::string_view("Jane\0 Doe", 9)) == faults(false, false, false, true));
    const std::string_view full = "Jos\xC3\xA9 Doe";
    CHECK(check_name(full) == faults(false, false, false, false));
    CHECK(check_name(full.substr(0, 4)) == faults(false, true, false, true));
}

namespace {

std::string utf8_of(const std::u32string& text) {
    std::string out;
    for (const char32_t c : text) {
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | (c >> 18));
            out += char(0x80 | ((c >> 12) & 0x3F));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// The check on a str's own storage, in the narrowest width that holds every code point, as
// CPython keeps it.
NameFaults check_stored(const std::u32string& text) {
    char32_t widest = 0;
    for (const char32_t c : text)
        widest = std::max(widest, c);
    if (widest < 0x100) {
        const std::basic_string<std::uint8_t> narrow(text.begin(), text.end());
        return sorvel::native::check_name_chars(narrow.data(), narrow.size());
    }
    if (widest < 0x10000) {
        const std::basic_string<std::uint16_t> narrow(text.begin(), text.end());
        return sorvel::native::check_name_chars(narrow.data(), narrow.size());
    }
    return sorvel::native::check_name_chars(reinterpret_cast<const std::uint32_t*>(text.data()),
                                            text.size());
}

}  // namespace

// The stored-form check and the UTF-8 check agree on every code point that a str can encode,
// alone, beside ASCII letters (forcing each width), and around the length limit.
TEST_CASE(stored_form_check_agrees_with_utf8_check) {
    int mismatches = 0;
    for (char32_t c = 0; c <= 0x10FFFF; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF) continue;
        for (const std::u32string& text :
             {std::u32string(1, c), U"Ab " + std::u32string(1, c) + U"-z"}) {
            if (!(check_stored(text) == check_name(utf8_of(text)))) ++mismatches;
        }
    }
    CHECK_EQ(mismatches, 0);
    for (const size_t length : {119, 120, 121, 200}) {
        for (const char32_t filler : {U'a', U'\u00e9', U'\u4e00', U'\U0001F600', U'7'}) {
            std::u32string text(length, filler);
            text[length / 2] = U' ';
            CONTEXT(std::to_string(length) + " of U+" + std::to_string(unsigned(filler)));
            CHECK(check_stored(text) == check_name(utf8_of(text)));
        }
    }
}
