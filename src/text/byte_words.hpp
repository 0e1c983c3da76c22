// Fixed-place digits read eight bytes at a time.
//
// Request text puts its digits at known places (a UUID is 32 hexadecimal digits, a date is
// YYYY-MM-DD), so eight bytes are read as one word: their bytes checked together and their
// values combined with shifts and masks, with no table lookup or branch per character.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace sorvel::text::byte_words {

// `N` characters at `p` (N <= 8) as the low bytes of a word, the first character lowest.
template <size_t N>
inline uint64_t load(const char* p) {
    static_assert(N >= 1 && N <= 8);
    uint64_t word = 0;
    std::memcpy(&word, p, N);
    if constexpr (std::endian::native == std::endian::big)
        word = __builtin_bswap64(word) >> (64 - 8 * N);
    return word;
}

constexpr uint64_t kOnes = 0x0101010101010101ULL;
constexpr uint64_t kHighBits = 0x8080808080808080ULL;

// The high bit of each byte of `word` (all bytes below 0x80) set where the byte is in [lo, hi].
constexpr uint64_t in_range(uint64_t word, unsigned lo, unsigned hi) {
    const uint64_t at_least = word + kOnes * (0x80 - lo);  // high bit: byte >= lo
    const uint64_t above = word + kOnes * (0x7F - hi);     // high bit: byte > hi
    return at_least & ~above & kHighBits;
}

// Whether the bytes of `word` marked by a high bit in `mask` are all decimal digits.
constexpr bool digits_at(uint64_t word, uint64_t mask) {
    return (word & kHighBits) == 0 && (in_range(word, '0', '9') & mask) == mask;
}

// Byte i of the result is 10 * d[i] + d[i+1], where d[i] is the low nibble of byte i of `word`
// (a digit's value): the value of the two-digit number starting at byte i.
constexpr uint64_t digit_pairs(uint64_t word) {
    const uint64_t nibbles = word & (kOnes * 0x0F);
    return nibbles * 10 + (nibbles >> 8);  // at most 10 * 15 + 15 per byte: no carry
}

// Byte i of a word.
constexpr unsigned byte_at(uint64_t word, unsigned i) { return unsigned(word >> (8 * i)) & 0xFF; }

// The four bytes the 8 hexadecimal digits (either case) at `p` spell, written to `out` in text
// order; false when one of them is not a hexadecimal digit (`out` then holds garbage).
inline bool hex8(const char* p, unsigned char* out) {
    const uint64_t word = load<8>(p);
    const uint64_t digit = in_range(word, '0', '9');
    // Setting bit 5 maps A-F onto a-f and no other byte into a-f.
    const uint64_t letter = in_range(word | (kOnes * 0x20), 'a', 'f');
    // Each byte's value: its low nibble, plus 9 for a letter ('a' and 'A' end in 1).
    const uint64_t nibbles = (word & (kOnes * 0x0F)) + (letter >> 7) * 9;
    // Byte i and byte i+1 into one byte (the first one high), then the four bytes together.
    uint64_t pairs = ((nibbles << 4) | (nibbles >> 8)) & 0x00FF00FF00FF00FFULL;
    pairs = (pairs | (pairs >> 8)) & 0x0000FFFF0000FFFFULL;
    uint32_t bytes = uint32_t(pairs | (pairs >> 16));
    if constexpr (std::endian::native == std::endian::big) bytes = __builtin_bswap32(bytes);
    std::memcpy(out, &bytes, 4);
    return (word & kHighBits) == 0 && (digit | letter) == kHighBits;
}

}  // namespace sorvel::text::byte_words
