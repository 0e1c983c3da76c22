#include "text/uuid.hpp"

#include <bit>
#include <charconv>
#include <cstring>

namespace sorvel::text {

namespace {

constexpr size_t kGroupLength[5] = {8, 4, 4, 4, 12};
constexpr std::string_view kUrnPrefix = "urn:uuid:";

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads the 16 bytes from exactly 32 hex digits, or from the 36-character 8-4-4-4-12 form.
bool read_hex(std::string_view text, bool hyphenated, Uuid& out) {
    size_t pos = 0;
    for (size_t i = 0; i < 16; ++i) {
        if (hyphenated && (pos == 8 || pos == 13 || pos == 18 || pos == 23)) {
            if (text[pos] != '-') return false;
            ++pos;
        }
        const int high = hex_value(text[pos]);
        const int low = hex_value(text[pos + 1]);
        if (high < 0 || low < 0) return false;
        out.bytes[i] = static_cast<uint8_t>(high << 4 | low);
        pos += 2;
    }
    return true;
}

void append_number(std::string& out, size_t value) {
    char buf[24];
    const char* end = std::to_chars(buf, buf + sizeof buf, value).ptr;
    out.append(buf, static_cast<size_t>(end - buf));
}

// The character starting at `text[i]`, whole even when it takes several UTF-8 bytes; a broken
// sequence shows as U+FFFD so the message itself stays valid UTF-8.
std::string_view character_at(std::string_view text, size_t i) {
    const auto lead = static_cast<unsigned char>(text[i]);
    size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
    if (length == 0 || lead > 0xF4 || i + length > text.size()) return "\xEF\xBF\xBD";
    for (size_t k = 1; k < length; ++k) {
        if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return "\xEF\xBF\xBD";
    }
    return text.substr(i, length);
}

// Works out why `text` failed the fast path. The first foreign character wins; otherwise the
// shape is wrong: length of a simple form, number of groups, or the first group of bad size.
std::string explain(std::string_view text) {
    std::string_view body = text;
    size_t offset = 0;
    bool simple = true;
    if (body.size() >= 2 && body.front() == '{' && body.back() == '}') {
        body = body.substr(1, body.size() - 2);
        offset = 1;
        simple = false;
    } else if (body.substr(0, kUrnPrefix.size()) == kUrnPrefix) {
        body.remove_prefix(kUrnPrefix.size());
        offset = kUrnPrefix.size();
        simple = false;
    }

    size_t hyphens = 0;
    size_t group_lengths[5] = {0, 0, 0, 0, 0};
    for (size_t i = 0; i < body.size(); ++i) {
        const char c = body[i];
        if (c == '-') {
            ++hyphens;
            continue;
        }
        if (hex_value(c) < 0) {
            std::string message = "invalid character: found `";
            message.append(character_at(body, i));
            message.append("` at ");
            // Everything before the first foreign character is ASCII, so the byte index is the
            // character index.
            append_number(message, offset + i + 1);
            return message;
        }
        if (hyphens < 5) ++group_lengths[hyphens];
    }

    std::string message;
    if (hyphens == 0 && simple) {
        message = "invalid length: expected length 32 for simple format, found ";
        append_number(message, text.size());
    } else if (hyphens != 4) {
        message = "invalid group count: expected 5, found ";
        append_number(message, hyphens + 1);
    } else {
        size_t group = 0;
        while (group < 4 && group_lengths[group] == kGroupLength[group])
            ++group;
        message = "invalid group length in group ";
        append_number(message, group);
        message.append(": expected ");
        append_number(message, kGroupLength[group]);
        message.append(", found ");
        append_number(message, group_lengths[group]);
    }
    return message;
}

}  // namespace

Result<Uuid, std::string> parse_uuid(std::string_view text) {
    Uuid uuid{};
    bool parsed = false;
    switch (text.size()) {
        case 32:
            parsed = read_hex(text, false, uuid);
            break;
        case 36:
            parsed = read_hex(text, true, uuid);
            break;
        case 38:
            parsed = text.front() == '{' && text.back() == '}' &&
                     read_hex(text.substr(1, 36), true, uuid);
            break;
        case 45:
            parsed = text.substr(0, kUrnPrefix.size()) == kUrnPrefix &&
                     read_hex(text.substr(kUrnPrefix.size()), true, uuid);
            break;
        default:
            break;
    }
    if (parsed) return uuid;
    return Failure{explain(text)};
}

namespace {

// The eight lowercase hex digits of bytes[0..4), in memory order: every nibble spread into a
// byte of its own, then made a digit or a letter, all lanes at once.
uint64_t hex_of_four(const uint8_t* bytes) {
    uint64_t n = uint64_t(bytes[0]) << 24 | uint64_t(bytes[1]) << 16 | uint64_t(bytes[2]) << 8 |
                 uint64_t(bytes[3]);
    n = (n & 0xFFFF0000ull) << 16 | (n & 0xFFFFull);
    n = (n & 0x0000FF000000FF00ull) << 8 | (n & 0x000000FF000000FFull);
    n = (n & 0x00F000F000F000F0ull) << 4 | (n & 0x000F000F000F000Full);
    // The first digit is in the highest byte now.
    const uint64_t letters = ((n + 0x0606060606060606ull) >> 4) & 0x0101010101010101ull;
    n += 0x3030303030303030ull + letters * ('a' - '0' - 10);
    if constexpr (std::endian::native == std::endian::little) n = __builtin_bswap64(n);
    return n;
}

}  // namespace

char* put_uuid(char* out, const Uuid& uuid) {
    const uint64_t a = hex_of_four(&uuid.bytes[0]);
    const uint64_t b = hex_of_four(&uuid.bytes[4]);
    const uint64_t c = hex_of_four(&uuid.bytes[8]);
    const uint64_t d = hex_of_four(&uuid.bytes[12]);
    const char* bt = reinterpret_cast<const char*>(&b);
    const char* ct = reinterpret_cast<const char*>(&c);
    std::memcpy(out, &a, 8);
    out[8] = '-';
    std::memcpy(out + 9, bt, 4);
    out[13] = '-';
    std::memcpy(out + 14, bt + 4, 4);
    out[18] = '-';
    std::memcpy(out + 19, ct, 4);
    out[23] = '-';
    std::memcpy(out + 24, ct + 4, 4);
    std::memcpy(out + 28, &d, 8);
    return out + 36;
}

char* put_uuid_hex(char* out, const Uuid& uuid) {
    for (size_t i = 0; i < 16; i += 4) {
        const uint64_t digits = hex_of_four(&uuid.bytes[i]);
        std::memcpy(out + 2 * i, &digits, 8);
    }
    return out + 32;
}

void append_uuid(std::string& out, const Uuid& uuid) {
    char buf[36];
    out.append(buf, size_t(put_uuid(buf, uuid) - buf));
}

}  // namespace sorvel::text
