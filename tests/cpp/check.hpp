#pragma once

// A minimal self-registering test harness: TEST_CASE defines a function and registers it before
// main runs; CHECK/CHECK_EQ record failures without stopping the test, so one run shows every
// broken row of a table.

#include <charconv>
#include <cstdio>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace sorvel::test {

__extension__ typedef unsigned __int128 uint128;

using TestFunction = void (*)();

struct TestCase {
    const char* name;
    TestFunction run;
};

inline std::vector<TestCase>& registry() {
    static std::vector<TestCase> tests;
    return tests;
}

struct Registrar {
    Registrar(const char* name, TestFunction run) { registry().push_back({name, run}); }
};

inline int& failures_in_current_test() {
    static int count = 0;
    return count;
}

// Text naming the table row being checked, printed with any failure under it.
inline std::string& current_context() {
    static std::string context;
    return context;
}

class Context {
  public:
    explicit Context(std::string_view text) : saved_(current_context()) {
        current_context().assign(text);
    }
    ~Context() { current_context() = std::move(saved_); }
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;

  private:
    std::string saved_;
};

inline std::string quote(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(c);
        } else if (byte < 0x20 || byte == 0x7F) {
            out.append("\\x");
            out.push_back(kHex[byte >> 4]);
            out.push_back(kHex[byte & 0xF]);
        } else {
            out.push_back(c);
        }
    }
    out.push_back('"');
    return out;
}

inline std::string show_u128(uint128 value) {
    char buf[48];
    char* p = buf + sizeof buf;
    do {
        *--p = static_cast<char>('0' + static_cast<int>(value % 10));
        value /= 10;
    } while (value != 0);
    return std::string(p, static_cast<size_t>(buf + sizeof buf - p));
}

template <class T>
std::string show(const T& value) {
    if constexpr (std::is_same_v<T, bool>) {
        return value ? "true" : "false";
    } else if constexpr (std::is_same_v<T, char>) {
        return quote(std::string_view(&value, 1));
    } else if constexpr (std::is_same_v<T, uint128>) {
        return show_u128(value);
    } else if constexpr (std::is_enum_v<T>) {
        return "enum " + show(static_cast<std::underlying_type_t<T>>(value));
    } else if constexpr (std::is_arithmetic_v<T>) {
        char buf[64];
        const char* end = std::to_chars(buf, buf + sizeof buf, value).ptr;
        return std::string(buf, static_cast<size_t>(end - buf));
    } else if constexpr (std::is_convertible_v<const T&, std::string_view>) {
        return quote(std::string_view(value));
    } else {
        return "<value>";
    }
}

// Integers of different signedness compare by value, not by the usual conversions.
template <class A, class B>
bool equal(const A& a, const B& b) {
    if constexpr (std::is_integral_v<A> && std::is_integral_v<B> && !std::is_same_v<A, bool> &&
                  !std::is_same_v<B, bool> && !std::is_same_v<A, char> &&
                  !std::is_same_v<B, char>) {
        return std::cmp_equal(a, b);
    } else {
        return a == b;
    }
}

inline void report(const char* file, int line, const std::string& message) {
    ++failures_in_current_test();
    const std::string& context = current_context();
    if (context.empty()) {
        std::fprintf(stderr, "%s:%d: %s\n", file, line, message.c_str());
    } else {
        std::fprintf(stderr, "%s:%d: [%s] %s\n", file, line, context.c_str(), message.c_str());
    }
}

}  // namespace sorvel::test

#define SORVEL_TEST_JOIN2(a, b) a##b
#define SORVEL_TEST_JOIN(a, b) SORVEL_TEST_JOIN2(a, b)

#define TEST_CASE(name)                                                                \
    static void name();                                                                \
    static const ::sorvel::test::Registrar SORVEL_TEST_JOIN(name, _reg)(#name, &name); \
    static void name()

// Labels the failures of the enclosing scope, e.g. CONTEXT(row.input) inside a table loop.
#define CONTEXT(text) \
    const ::sorvel::test::Context SORVEL_TEST_JOIN(sorvel_context_, __LINE__)(text)

#define CHECK(condition)                                                                \
    do {                                                                                \
        if (!(condition)) {                                                             \
            ::sorvel::test::report(__FILE__, __LINE__, "CHECK(" #condition ") failed"); \
        }                                                                               \
    } while (0)

#define CHECK_EQ(actual, expected)                                                            \
    do {                                                                                      \
        const auto& sorvel_actual_ = (actual);                                                \
        const auto& sorvel_expected_ = (expected);                                            \
        if (!::sorvel::test::equal(sorvel_actual_, sorvel_expected_)) {                       \
            ::sorvel::test::report(__FILE__, __LINE__,                                        \
                                   "CHECK_EQ(" #actual ", " #expected "): got " +             \
                                       ::sorvel::test::show(sorvel_actual_) + ", expected " + \
                                       ::sorvel::test::show(sorvel_expected_));               \
        }                                                                                     \
    } while (0)
