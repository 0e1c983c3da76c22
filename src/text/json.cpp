#include "text/json.hpp"

#include <algorithm>
#include <charconv>
#include <system_error>

namespace sorvel::text {

namespace {

constexpr std::string_view kControlCharacter =
    "control character (\\u0000-\\u001F) found while parsing a string";

bool is_digit(char c) { return c >= '0' && c <= '9'; }

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void append_utf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | cp >> 6));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | cp >> 12));
        out.push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | cp >> 18));
        out.push_back(static_cast<char>(0x80 | (cp >> 12 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

void append_number(std::string& out, uint64_t value) {
    char buf[24];
    const char* end = std::to_chars(buf, buf + sizeof buf, value).ptr;
    out.append(buf, static_cast<size_t>(end - buf));
}

// Whether a grammatically valid JSON number that does not fit a double is too large (rather than
// too small). Out-of-range values are beyond 1e308 or below 1e-324, so the decimal exponent of
// the first significant digit settles it.
bool overflows(const char* p, const char* end) {
    if (*p == '-') ++p;
    int64_t exponent = 0;
    bool found = false;
    const char* int_start = p;
    while (p < end && is_digit(*p))
        ++p;
    for (const char* q = int_start; q < p; ++q) {
        if (*q != '0') {
            exponent = p - q - 1;
            found = true;
            break;
        }
    }
    if (p < end && *p == '.') {
        const char* frac_start = ++p;
        while (p < end && is_digit(*p)) {
            if (!found && *p != '0') {
                exponent = -(p - frac_start + 1);
                found = true;
            }
            ++p;
        }
    }
    if (!found) return false;
    if (p < end && (*p == 'e' || *p == 'E')) {
        ++p;
        const bool negative = *p == '-';
        if (*p == '+' || *p == '-') ++p;
        int64_t explicit_exponent = 0;
        for (; p < end; ++p) {
            explicit_exponent = std::min<int64_t>(explicit_exponent * 10 + (*p - '0'), 1 << 30);
        }
        exponent += negative ? -explicit_exponent : explicit_exponent;
    }
    return exponent >= 0;
}

class Parser {
  public:
    explicit Parser(std::string_view text)
        : begin_(text.data()), p_(text.data()), end_(text.data() + text.size()) {}

    Result<JsonValue, std::string> run() {
        JsonValue root;
        if (!parse_value(root, 0)) return Failure{std::move(error_)};
        skip_whitespace();
        if (p_ != end_) {
            fail(p_, "trailing characters");
            return Failure{std::move(error_)};
        }
        return root;
    }

  private:
    const char* begin_;
    const char* p_;
    const char* end_;
    std::string error_;

    void skip_whitespace() {
        while (p_ < end_ && (*p_ == ' ' || *p_ == '\n' || *p_ == '\r' || *p_ == '\t'))
            ++p_;
    }

    // Reports the problem at the character `at` (line and column 1-based, column in bytes).
    bool fail(const char* at, std::string_view what) {
        uint64_t line = 1;
        const char* line_start = begin_;
        for (const char* q = begin_; q < at; ++q) {
            if (*q == '\n') {
                ++line;
                line_start = q + 1;
            }
        }
        set_error(what, line, static_cast<uint64_t>(at - line_start) + 1);
        return false;
    }

    // Reports running out of input at the last character read: the column counts the bytes on
    // the final line, so it is 0 when nothing follows the last newline (or there is no input).
    bool fail_eof(std::string_view what) {
        uint64_t line = 1;
        const char* line_start = begin_;
        for (const char* q = begin_; q < end_; ++q) {
            if (*q == '\n') {
                ++line;
                line_start = q + 1;
            }
        }
        set_error(what, line, static_cast<uint64_t>(end_ - line_start));
        return false;
    }

    void set_error(std::string_view what, uint64_t line, uint64_t column) {
        error_.assign(what);
        error_.append(" at line ");
        append_number(error_, line);
        error_.append(" column ");
        append_number(error_, column);
    }

    bool parse_value(JsonValue& out, int depth) {
        skip_whitespace();
        if (p_ == end_) return fail_eof("EOF while parsing a value");
        switch (*p_) {
            case 'n':
                if (!parse_literal("null")) return false;
                out.v.emplace<std::monostate>();
                return true;
            case 't':
                if (!parse_literal("true")) return false;
                out.v.emplace<bool>(true);
                return true;
            case 'f':
                if (!parse_literal("false")) return false;
                out.v.emplace<bool>(false);
                return true;
            case '"':
                return parse_string(out.v.emplace<std::string>());
            case '[':
                // The check comes before the recursion so hostile nesting cannot exhaust the stack.
                if (depth >= kJsonMaxDepth) return fail(p_, "recursion limit exceeded");
                return parse_array(out.v.emplace<JsonArray>(), depth + 1);
            case '{':
                if (depth >= kJsonMaxDepth) return fail(p_, "recursion limit exceeded");
                return parse_object(out.v.emplace<JsonObject>(), depth + 1);
            default:
                if (*p_ == '-' || is_digit(*p_)) return parse_number(out);
                return fail(p_, "expected value");
        }
    }

    bool parse_literal(std::string_view word) {
        for (const char c : word) {
            if (p_ == end_) return fail_eof("EOF while parsing a value");
            if (*p_ != c) return fail(p_, "expected value");
            ++p_;
        }
        return true;
    }

    bool parse_number(JsonValue& out) {
        const char* start = p_;
        const bool negative = *p_ == '-';
        if (negative) ++p_;
        if (p_ == end_) return fail_eof("EOF while parsing a value");
        if (*p_ == '0') {
            ++p_;
            if (p_ < end_ && is_digit(*p_)) return fail(p_, "invalid number");
        } else if (is_digit(*p_)) {
            while (p_ < end_ && is_digit(*p_))
                ++p_;
        } else {
            return fail(p_, "invalid number");
        }
        const char* integer_end = p_;
        if (p_ < end_ && *p_ == '.') {
            ++p_;
            if (!digits_follow()) return false;
        }
        if (p_ < end_ && (*p_ == 'e' || *p_ == 'E')) {
            ++p_;
            if (p_ < end_ && (*p_ == '+' || *p_ == '-')) ++p_;
            if (!digits_follow()) return false;
        }

        if (integer_end == p_) {
            uint64_t magnitude = 0;
            bool fits = true;
            for (const char* q = start + negative; q < p_; ++q) {
                const uint64_t digit = static_cast<uint64_t>(*q - '0');
                if (magnitude > (UINT64_MAX - digit) / 10) {
                    fits = false;
                    break;
                }
                magnitude = magnitude * 10 + digit;
            }
            if (fits && (!negative || magnitude == 0)) {
                out.v.emplace<uint64_t>(magnitude);
                return true;
            }
            if (fits && magnitude <= uint64_t{1} << 63) {
                out.v.emplace<int64_t>(static_cast<int64_t>(0 - magnitude));
                return true;
            }
        }

        double value = 0;
        const auto [ptr, ec] = std::from_chars(start, p_, value);
        if (ec == std::errc::result_out_of_range) {
            if (overflows(start, p_)) return fail(p_ - 1, "number out of range");
            value = negative ? -0.0 : 0.0;
        } else if (ec != std::errc() || ptr != p_) {
            return fail(start, "invalid number");
        }
        out.v.emplace<double>(value);
        return true;
    }

    // One or more digits after "." or an exponent marker.
    bool digits_follow() {
        if (p_ == end_) return fail_eof("EOF while parsing a value");
        if (!is_digit(*p_)) return fail(p_, "invalid number");
        while (p_ < end_ && is_digit(*p_))
            ++p_;
        return true;
    }

    bool parse_string(std::string& out) {
        ++p_;  // opening quote
        for (;;) {
            const char* run = p_;
            while (p_ < end_ && *p_ != '"' && *p_ != '\\' &&
                   static_cast<unsigned char>(*p_) >= 0x20) {
                ++p_;
            }
            out.append(run, static_cast<size_t>(p_ - run));
            if (p_ == end_) return fail_eof("EOF while parsing a string");
            if (*p_ == '"') {
                ++p_;
                return true;
            }
            if (*p_ != '\\') return fail(p_, kControlCharacter);
            ++p_;
            if (p_ == end_) return fail_eof("EOF while parsing a string");
            switch (*p_) {
                case '"':
                case '\\':
                case '/':
                    out.push_back(*p_);
                    break;
                case 'b':
                    out.push_back('\b');
                    break;
                case 'f':
                    out.push_back('\f');
                    break;
                case 'n':
                    out.push_back('\n');
                    break;
                case 'r':
                    out.push_back('\r');
                    break;
                case 't':
                    out.push_back('\t');
                    break;
                case 'u':
                    if (!parse_unicode_escape(out)) return false;
                    continue;  // already past the escape
                default:
                    return fail(p_, "invalid escape");
            }
            ++p_;
        }
    }

    // Reads the four hex digits after "\u"; `p_` is on the "u" and ends after the last digit.
    bool read_hex4(uint32_t& unit) {
        ++p_;
        unit = 0;
        for (int i = 0; i < 4; ++i, ++p_) {
            if (p_ == end_) return fail_eof("EOF while parsing a string");
            const int digit = hex_value(*p_);
            if (digit < 0) return fail(p_, "invalid escape");
            unit = unit << 4 | static_cast<uint32_t>(digit);
        }
        return true;
    }

    bool parse_unicode_escape(std::string& out) {
        uint32_t unit = 0;
        if (!read_hex4(unit)) return false;
        if (unit >= 0xDC00 && unit <= 0xDFFF) return fail(p_ - 1, "invalid unicode code point");
        if (unit < 0xD800 || unit > 0xDBFF) {
            append_utf8(out, unit);
            return true;
        }
        // A leading surrogate must be followed straight away by an escaped trailing one.
        if (p_ == end_) return fail_eof("EOF while parsing a string");
        if (*p_ != '\\') return fail(p_, "lone leading surrogate in hex escape");
        ++p_;
        if (p_ == end_) return fail_eof("EOF while parsing a string");
        if (*p_ != 'u') return fail(p_, "lone leading surrogate in hex escape");
        uint32_t trail = 0;
        if (!read_hex4(trail)) return false;
        if (trail < 0xDC00 || trail > 0xDFFF) {
            return fail(p_ - 1, "lone leading surrogate in hex escape");
        }
        append_utf8(out, 0x10000 + ((unit - 0xD800) << 10) + (trail - 0xDC00));
        return true;
    }

    bool parse_array(JsonArray& out, int depth) {
        ++p_;  // "["
        skip_whitespace();
        if (p_ == end_) return fail_eof("EOF while parsing a list");
        if (*p_ == ']') {
            ++p_;
            return true;
        }
        for (;;) {
            if (!parse_value(out.emplace_back(), depth)) return false;
            skip_whitespace();
            if (p_ == end_) return fail_eof("EOF while parsing a list");
            if (*p_ == ']') {
                ++p_;
                return true;
            }
            if (*p_ != ',') return fail(p_, "expected `,` or `]`");
            ++p_;
            skip_whitespace();
            if (p_ == end_) return fail_eof("EOF while parsing a value");
            if (*p_ == ']') return fail(p_, "trailing comma");
        }
    }

    bool parse_object(JsonObject& out, int depth) {
        ++p_;  // "{"
        skip_whitespace();
        if (p_ == end_) return fail_eof("EOF while parsing an object");
        if (*p_ == '}') {
            ++p_;
            return true;
        }
        for (;;) {
            if (*p_ != '"') return fail(p_, "key must be a string");
            JsonMember& member = out.emplace_back();
            if (!parse_string(member.first)) return false;
            skip_whitespace();
            if (p_ == end_) return fail_eof("EOF while parsing an object");
            if (*p_ != ':') return fail(p_, "expected `:`");
            ++p_;
            if (!parse_value(member.second, depth)) return false;
            skip_whitespace();
            if (p_ == end_) return fail_eof("EOF while parsing an object");
            if (*p_ == '}') {
                ++p_;
                break;
            }
            if (*p_ != ',') return fail(p_, "expected `,` or `}`");
            ++p_;
            skip_whitespace();
            if (p_ == end_) return fail_eof("EOF while parsing a value");
            if (*p_ == '}') return fail(p_, "trailing comma");
        }
        normalize(out);
        return true;
    }

    // Sorts members by key and keeps only the last of each duplicated key, as a later assignment
    // overrides an earlier one. Objects that arrive sorted and unique are left alone.
    static void normalize(JsonObject& members) {
        const auto key_less = [](const JsonMember& a, const JsonMember& b) {
            return a.first < b.first;
        };
        const auto not_ascending = [&](const JsonMember& a, const JsonMember& b) {
            return !key_less(a, b);
        };
        if (std::adjacent_find(members.begin(), members.end(), not_ascending) == members.end()) {
            return;
        }
        std::stable_sort(members.begin(), members.end(), key_less);
        size_t kept = 0;
        for (size_t i = 0; i < members.size(); ++i) {
            if (i + 1 < members.size() && members[i + 1].first == members[i].first) continue;
            if (kept != i) members[kept] = std::move(members[i]);
            ++kept;
        }
        members.erase(members.begin() + static_cast<std::ptrdiff_t>(kept), members.end());
    }
};

}  // namespace

Result<JsonValue, std::string> parse_json(std::string_view text) { return Parser(text).run(); }

}  // namespace sorvel::text
