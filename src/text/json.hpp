#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "text/result.hpp"

namespace sorvel::text {

struct JsonValue;
using JsonArray = std::vector<JsonValue>;
using JsonMember = std::pair<std::string, JsonValue>;
// Sorted ascending by key bytes with unique keys, so lookups can binary-search.
using JsonObject = std::vector<JsonMember>;

struct JsonValue {
    // uint64_t holds every non-negative integer that fits, int64_t only negative ones; other
    // numbers are doubles.
    std::variant<std::monostate, bool, uint64_t, int64_t, double, std::string, JsonArray,
                 JsonObject>
        v;

    JsonValue() = default;
    JsonValue(std::nullptr_t) {}
    JsonValue(bool b) : v(std::in_place_type<bool>, b) {}
    JsonValue(uint64_t n) : v(std::in_place_type<uint64_t>, n) {}
    JsonValue(int64_t n) : v(std::in_place_type<int64_t>, n) {}
    JsonValue(double d) : v(std::in_place_type<double>, d) {}
    JsonValue(std::string s) : v(std::in_place_type<std::string>, std::move(s)) {}
    JsonValue(const char* s) : v(std::in_place_type<std::string>, s) {}
    JsonValue(JsonArray a) : v(std::in_place_type<JsonArray>, std::move(a)) {}
    JsonValue(JsonObject o) : v(std::in_place_type<JsonObject>, std::move(o)) {}

    bool is_null() const { return std::holds_alternative<std::monostate>(v); }

    friend bool operator==(const JsonValue&, const JsonValue&) = default;
};

// Nesting deeper than this many arrays/objects is refused, which also bounds the parser's own
// recursion.
inline constexpr int kJsonMaxDepth = 127;

// Strict RFC 8259: no NaN/Infinity, no comments, only space/tab/CR/LF between tokens, nothing
// after the value. Errors read "<what> at line <l> column <c>".
Result<JsonValue, std::string> parse_json(std::string_view text);

}  // namespace sorvel::text
