#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "text/result.hpp"

namespace sorvel::text {

struct Uuid {
    std::array<uint8_t, 16> bytes;
    friend bool operator==(const Uuid&, const Uuid&) = default;
};

// Accepts 32 hex digits, the hyphenated 8-4-4-4-12 form, that form in braces, or that form after
// "urn:uuid:"; hex digits of either case. The error text pinpoints the first thing wrong.
Result<Uuid, std::string> parse_uuid(std::string_view text);

// 36-character lower-case hyphenated form.
void append_uuid(std::string& out, const Uuid& uuid);

// The canonical lowercase form (36 characters) at `out`; answers the end.
char* put_uuid(char* out, const Uuid& uuid);
// The 32 lowercase hex digits alone.
char* put_uuid_hex(char* out, const Uuid& uuid);

}  // namespace sorvel::text
