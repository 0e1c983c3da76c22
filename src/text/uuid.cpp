#include "text/uuid.hpp"

#include <charconv>

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

void append_uuid(std::string& out, const Uuid& uuid) {
    static constexpr char kHex[] = "0123456789abcdef";
    char buf[36];
    size_t pos = 0;
    for (size_t i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) buf[pos++] = '-';
        buf[pos++] = kHex[uuid.bytes[i] >> 4];
        buf[pos++] = kHex[uuid.bytes[i] & 0xF];
    }
    out.append(buf, sizeof buf);
}

}  // namespace sorvel::text
