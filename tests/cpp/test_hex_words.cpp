// The word-at-a-time hexadecimal reader against a character-at-a-time reading: every byte value in
// every position, so that no neighbouring byte or carry can leak into a verdict.
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

#include "check.hpp"
#include "text/hex_words.hpp"

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

}  // namespace

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
                const bool read = hex_words::hex8(text, bytes);
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
    CHECK(hex_words::hex8("0123ABCD", bytes) && bytes[0] == 0x01 && bytes[3] == 0xCD);
}
