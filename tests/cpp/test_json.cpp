#include <charconv>
#include <string>

#include "check.hpp"
#include "text/json.hpp"

using namespace sorvel::text;

namespace {

// Compact rendering that keeps the stored type visible: u7 (unsigned), i-7 (negative), d1.5.
void dump(std::string& out, const JsonValue& value) {
    char buf[64];
    switch (value.v.index()) {
        case 0:
            out += "null";
            break;
        case 1:
            out += std::get<bool>(value.v) ? "true" : "false";
            break;
        case 2:
            out += 'u';
            out += std::to_string(std::get<uint64_t>(value.v));
            break;
        case 3:
            out += 'i';
            out += std::to_string(std::get<int64_t>(value.v));
            break;
        case 4:
            out += "d";
            out.append(buf, std::to_chars(buf, buf + sizeof buf, std::get<double>(value.v)).ptr);
            break;
        case 5:
            out += "\"" + std::get<std::string>(value.v) + "\"";
            break;
        case 6: {
            out += "[";
            const char* separator = "";
            for (const JsonValue& item : std::get<JsonArray>(value.v)) {
                out += separator;
                dump(out, item);
                separator = ",";
            }
            out += "]";
            break;
        }
        default: {
            out += "{";
            const char* separator = "";
            for (const JsonMember& member : std::get<JsonObject>(value.v)) {
                out += separator;
                out += member.first + ":";
                dump(out, member.second);
                separator = ",";
            }
            out += "}";
        }
    }
}

std::string outcome(std::string_view input) {
    const auto parsed = parse_json(input);
    if (!parsed) return "error: " + parsed.error();
    std::string out;
    dump(out, parsed.value());
    return out;
}

struct Row {
    std::string input;
    std::string expected;
};

}  // namespace

TEST_CASE(json_parses_values) {
    const Row rows[] = {
        {"null", "null"},
        {"true", "true"},
        {" \t\r\nfalse\n", "false"},
        {"0", "u0"},
        {"-0", "u0"},
        {"123", "u123"},
        {"18446744073709551615", "u18446744073709551615"},
        {"18446744073709551616", "d18446744073709551616"},
        {"-1", "i-1"},
        {"-9223372036854775808", "i-9223372036854775808"},
        {"-9223372036854775809", "d-9223372036854775808"},
        {"1.5", "d1.5"},
        {"-0.0", "d-0"},
        {"1e2", "d100"},
        {"1E-2", "d0.01"},
        {"2.5e+3", "d2500"},
        {"0.1", "d0.1"},
        {"1e-400", "d0"},
        {"-1e-400", "d-0"},
        {"1.7976931348623157e308", "d1.7976931348623157e+308"},
        {"\"\"", "\"\""},
        {"\"a\\u00e9\\u20AC\\ud83d\\ude00\"", "\"a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\""},
        {"\"\\\"\\\\\\/\\b\\f\\n\\r\\t\"", "\"\"\\/\b\f\n\r\t\""},
        {"\"\\u0000\"", std::string("\"\0\"", 3)},
        {"\"caf\xC3\xA9\"", "\"caf\xC3\xA9\""},
        {"[]", "[]"},
        {"[ 1 , [2, []], {} ]", "[u1,[u2,[]],{}]"},
        {"{\"b\": 1, \"a\": [true]}", "{a:[true],b:u1}"},
        {"{\"a\":1,\"b\":2,\"a\":3}", "{a:u3,b:u2}"},
        {"{\"b\":1,\"a\":2,\"b\":3,\"a\":4,\"c\":5}", "{a:u4,b:u3,c:u5}"},
        {"{\"\xC3\xA9\":1,\"z\":2,\"A\":3}", "{A:u3,z:u2,\xC3\xA9:u1}"},
    };
    for (const Row& row : rows) {
        CONTEXT(row.input);
        CHECK_EQ(outcome(row.input), row.expected);
    }
}

TEST_CASE(json_reports_errors_with_position) {
    const Row rows[] = {
        {"[NaN]", "expected value at line 1 column 2"},
        {"{\"a\": NaN}", "expected value at line 1 column 7"},
        {"NaN", "expected value at line 1 column 1"},
        {"Infinity", "expected value at line 1 column 1"},
        {"-Infinity", "invalid number at line 1 column 2"},
        {"+1", "expected value at line 1 column 1"},
        {"[,]", "expected value at line 1 column 2"},
        {"trux", "expected value at line 1 column 4"},
        {"\n\n  x", "expected value at line 3 column 3"},
        {"", "EOF while parsing a value at line 1 column 0"},
        {"  ", "EOF while parsing a value at line 1 column 2"},
        {"tru", "EOF while parsing a value at line 1 column 3"},
        {"-", "EOF while parsing a value at line 1 column 1"},
        {"1.", "EOF while parsing a value at line 1 column 2"},
        {"1e+", "EOF while parsing a value at line 1 column 3"},
        {"[1,", "EOF while parsing a value at line 1 column 3"},
        {"[1,\n", "EOF while parsing a value at line 2 column 0"},
        {"{\"a\":", "EOF while parsing a value at line 1 column 5"},
        {"{\"a\":1,", "EOF while parsing a value at line 1 column 7"},
        {"[", "EOF while parsing a list at line 1 column 1"},
        {"[1", "EOF while parsing a list at line 1 column 2"},
        {"{", "EOF while parsing an object at line 1 column 1"},
        {"{\"a\"", "EOF while parsing an object at line 1 column 4"},
        {"{\"a\":1", "EOF while parsing an object at line 1 column 6"},
        {"\"abc", "EOF while parsing a string at line 1 column 4"},
        {"\"\\", "EOF while parsing a string at line 1 column 2"},
        {"\"\\u12", "EOF while parsing a string at line 1 column 5"},
        {"\"\\ud800", "EOF while parsing a string at line 1 column 7"},
        {"01", "invalid number at line 1 column 2"},
        {"-01", "invalid number at line 1 column 3"},
        {"1.e5", "invalid number at line 1 column 3"},
        {"1ex", "invalid number at line 1 column 3"},
        {"-a", "invalid number at line 1 column 2"},
        {"1e400", "number out of range at line 1 column 5"},
        {"[-1.5e309]", "number out of range at line 1 column 9"},
        {"[1,]", "trailing comma at line 1 column 4"},
        {"[1,\n 2,\n ]", "trailing comma at line 3 column 2"},
        {"{\"a\":1,}", "trailing comma at line 1 column 8"},
        {"[1 2]", "expected `,` or `]` at line 1 column 4"},
        {"{\"a\":1 \"b\":2}", "expected `,` or `}` at line 1 column 8"},
        {"{\"a\" 1}", "expected `:` at line 1 column 6"},
        {"{1:2}", "key must be a string at line 1 column 2"},
        {"{\"a\":1,2:3}", "key must be a string at line 1 column 8"},
        {"[1] x", "trailing characters at line 1 column 5"},
        {"1.5x", "trailing characters at line 1 column 4"},
        {"nulll", "trailing characters at line 1 column 5"},
        {"\"a\\x\"", "invalid escape at line 1 column 4"},
        {"\"\\u12G4\"", "invalid escape at line 1 column 6"},
        {"\"\\ud800\"", "lone leading surrogate in hex escape at line 1 column 8"},
        {"\"\\ud800\\n\"", "lone leading surrogate in hex escape at line 1 column 9"},
        {"\"\\ud800\\u0041\"", "lone leading surrogate in hex escape at line 1 column 13"},
        {"\"\\udc00\"", "invalid unicode code point at line 1 column 7"},
        {"\"a\tb\"",
         "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 3"},
        {"\"\x1F\"",
         "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 2"},
        {"\u00a0[]", "expected value at line 1 column 1"},
        {"[]\f", "trailing characters at line 1 column 3"},
    };
    for (const Row& row : rows) {
        CONTEXT(row.input);
        CHECK_EQ(outcome(row.input), "error: " + row.expected);
    }
}

TEST_CASE(json_limits_nesting_depth) {
    const std::string deepest = std::string(127, '[') + std::string(127, ']');
    CHECK(parse_json(deepest).ok());
    const std::string objects = [] {
        std::string text;
        for (int i = 0; i < 127; ++i)
            text += "{\"a\":";
        text += "1";
        return text + std::string(127, '}');
    }();
    CHECK(parse_json(objects).ok());
    CHECK_EQ(outcome(std::string(128, '[') + std::string(128, ']')),
             "error: recursion limit exceeded at line 1 column 128");
    CHECK_EQ(outcome("{\"a\":" + objects + "}"),
             "error: recursion limit exceeded at line 1 column 636");
    // Far deeper input must fail cleanly rather than exhaust the stack.
    CHECK_EQ(outcome(std::string(1000000, '[')),
             "error: recursion limit exceeded at line 1 column 128");
}
