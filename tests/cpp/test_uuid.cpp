#include <string>

#include "check.hpp"
#include "text/uuid.hpp"

using namespace sorvel::text;

namespace {

constexpr const char* kCanonical = "0123abcd-89ab-cdef-0123-456789abcdef";

std::string outcome(std::string_view input) {
    const auto parsed = parse_uuid(input);
    if (!parsed) return parsed.error();
    std::string out;
    append_uuid(out, parsed.value());
    return out;
}

}  // namespace

TEST_CASE(uuid_accepts_the_four_forms) {
    const char* inputs[] = {
        "0123abcd89abcdef0123456789abcdef",       "0123ABCD89ABCDEF0123456789ABCDEF",
        "0123abcd-89ab-cdef-0123-456789abcdef",   "0123ABCD-89aB-CdEf-0123-456789ABCDEF",
        "{0123abcd-89ab-cdef-0123-456789abcdef}", "urn:uuid:0123abcd-89ab-cdef-0123-456789abcdef",
    };
    for (const char* input : inputs) {
        CONTEXT(input);
        CHECK_EQ(outcome(input), kCanonical);
    }
    const auto parsed = parse_uuid(kCanonical);
    CHECK(parsed && parsed.value().bytes[0] == 0x01 && parsed.value().bytes[15] == 0xef);
    std::string out = "id=";
    append_uuid(out, Uuid{});
    CHECK_EQ(out, "id=00000000-0000-0000-0000-000000000000");
}

TEST_CASE(uuid_explains_failures) {
    struct Row {
        std::string input;
        std::string error;
    };
    const Row rows[] = {
        {"", "invalid length: expected length 32 for simple format, found 0"},
        {"0123abcd89abcdef0123456789abcde",
         "invalid length: expected length 32 for simple format, found 31"},
        {"0123abcd89abcdef0123456789abcdef0",
         "invalid length: expected length 32 for simple format, found 33"},
        {"g123abcd89abcdef0123456789abcdef", "invalid character: found `g` at 1"},
        {"0123abcd-89ab-cdef-0123-456789abcdeZ", "invalid character: found `Z` at 36"},
        {"0123 bcd-89ab-cdef-0123-456789abcdef", "invalid character: found ` ` at 5"},
        {"{0123abcd-89ab-cdef-0123-456789abcdex}", "invalid character: found `x` at 37"},
        {"urn:uuid:0123abcd-89ab-cdef-0123-4567x9abcdef", "invalid character: found `x` at 38"},
        {"{0123abcd-89ab-cdef-0123-456789abcdef", "invalid character: found `{` at 1"},
        {"0123\xC3\xA9", "invalid character: found `\xC3\xA9` at 5"},
        {"01\xE2\x82\xAC", "invalid character: found `\xE2\x82\xAC` at 3"},
        {"01\xFF", "invalid character: found `\xEF\xBF\xBD` at 3"},
        {"0123abcd-89ab-cdef-0123", "invalid group count: expected 5, found 4"},
        {"0123abcd-89ab-cdef-0123-4567-89abcdef", "invalid group count: expected 5, found 6"},
        {"{0123abcd89abcdef0123456789abcdef}", "invalid group count: expected 5, found 1"},
        {"0123abc-d89ab-cdef-0123-456789abcdef",
         "invalid group length in group 0: expected 8, found 7"},
        {"0123abcd-89abc-def-0123-456789abcdef",
         "invalid group length in group 1: expected 4, found 5"},
        {"0123abcd-89ab-cdef-0123-456789abcde",
         "invalid group length in group 4: expected 12, found 11"},
        {"urn:uuid:0123abcd-89ab-cdef-0123-456789abcdeff",
         "invalid group length in group 4: expected 12, found 13"},
        {"0123abcd-89ab-cdef-0123-456789abcdef0",
         "invalid group length in group 4: expected 12, found 13"},
    };
    for (const Row& row : rows) {
        CONTEXT(row.input);
        CHECK_EQ(outcome(row.input), row.error);
    }
}

TEST_CASE(uuid_forms_of_every_byte) {
    // Each byte value at each position, against the plain nibble-by-nibble form.
    static constexpr char kHex[] = "0123456789abcdef";
    for (int value = 0; value < 256; ++value) {
        Uuid uuid{};
        for (size_t i = 0; i < 16; ++i)
            uuid.bytes[i] = uint8_t(value + 17 * int(i));
        std::string expected_hex;
        for (uint8_t byte : uuid.bytes) {
            expected_hex += kHex[byte >> 4];
            expected_hex += kHex[byte & 15];
        }
        const std::string expected = expected_hex.substr(0, 8) + "-" + expected_hex.substr(8, 4) +
                                     "-" + expected_hex.substr(12, 4) + "-" +
                                     expected_hex.substr(16, 4) + "-" + expected_hex.substr(20);
        char buf[40];
        CONTEXT(expected);
        CHECK_EQ(std::string(buf, size_t(put_uuid(buf, uuid) - buf)), expected);
        CHECK_EQ(std::string(buf, size_t(put_uuid_hex(buf, uuid) - buf)), expected_hex);
    }
}
