#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "check.hpp"
#include "text/float_text.hpp"

using sorvel::text::parse_float_text;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kMax = std::numeric_limits<double>::max();
constexpr double kTrueMin = std::numeric_limits<double>::denorm_min();

// Compares bit patterns so that 0.0 and -0.0 are told apart.
std::uint64_t bits(double value) { return std::bit_cast<std::uint64_t>(value); }

struct ValueCase {
    std::string_view text;
    double expected;
};

constexpr ValueCase kValues[] = {
    {"0", 0.0},
    {"-0", -0.0},
    {"-0.0e5", -0.0},
    {"5", 5.0},
    {"+5", 5.0},
    {"5.", 5.0},
    {".5", 0.5},
    {"-.5", -0.5},
    {"007.250", 7.25},
    {"1E3", 1000.0},
    {"1e+3", 1000.0},
    {"1e-3", 0.001},
    {".5e1", 5.0},
    {"5.e1", 50.0},
    {"123456789012345678901234567890", 123456789012345678901234567890.0},
    // Correct rounding at the edges of the double range.
    {"1.7976931348623157e308", kMax},
    {"1.7976931348623158e308", kMax},
    {"4.9406564584124654e-324", kTrueMin},
    {"2.4703282292062328e-324", kTrueMin},
    {"2.2250738585072011e-308", 2.2250738585072009e-308},
    // Halfway between 1 and the next double: ties go to even.
    {"1.00000000000000011102230246251565404236316680908203125", 1.0},
    {"1.00000000000000011102230246251565404236316680908203126", 1.0000000000000002},
    // Out of range: overflow saturates to infinity and underflow flushes to zero, keeping the sign.
    {"1.7976931348623159e308", kInf},
    {"-1e309", -kInf},
    {"1e99999999999999999999999", kInf},
    {"1e9223372036854775808", kInf},  // an exponent past int64 must not wrap around
    {"2.4703282292062327e-324", 0.0},
    {"-1e-400", -0.0},
    {"1e-99999999999999999999999", 0.0},
    {"-1e-9223372036854775809", -0.0},
    {"0e99999999999999999999999", 0.0},
    {"0.001e311", 1e308},
    // Words, in any case and with a sign.
    {"inf", kInf},
    {"-Inf", -kInf},
    {"+infinity", kInf},
    {"-InFiNiTy", -kInf},
};

constexpr std::string_view kRejected[] = {
    "",
    "+",
    "-",
    ".",
    "-.",
    "e5",
    ".e5",
    "1e",
    "1e+",
    "1e-",
    "1.2.3",
    "1..2",
    "1e5.0",
    "1e5e5",
    "++1",
    "+-1",
    " 1",
    "1 ",
    "1_000",
    "1,5",
    "0x1p3",
    "0x10",
    "1f",
    "in",
    "infinityy",
    "infs",
    "nan(1)",
    "nan()",
    "nana",
    "- inf",
    "+ 1",
    "\xEF\xBC\x91",  // fullwidth digit one
};

}  // namespace

TEST_CASE(float_text_values) {
    for (const ValueCase& c : kValues) {
        CONTEXT(c.text);
        const std::optional<double> parsed = parse_float_text(c.text);
        CHECK(parsed.has_value());
        if (parsed) CHECK_EQ(bits(*parsed), bits(c.expected));
    }
}

TEST_CASE(float_text_nan) {
    for (const std::string_view text : {"nan", "NaN", "NAN", "+nan", "-nAn"}) {
        CONTEXT(text);
        const std::optional<double> parsed = parse_float_text(text);
        CHECK(parsed.has_value());
        if (!parsed) continue;
        CHECK(std::isnan(*parsed));
        CHECK_EQ(std::signbit(*parsed), text.front() == '-');
    }
}

TEST_CASE(float_text_rejects) {
    for (const std::string_view text : kRejected) {
        CONTEXT(text);
        CHECK(!parse_float_text(text).has_value());
    }
}

// The parser must stop at the end of the view, not at a terminator, and must not accept an
// embedded NUL.
TEST_CASE(float_text_stays_within_view) {
    const std::string text = "12345";
    const std::optional<double> prefix = parse_float_text(std::string_view(text).substr(0, 2));
    CHECK(prefix.has_value());
    if (prefix) CHECK_EQ(*prefix, 12.0);
    CHECK(!parse_float_text(std::string_view("1\0", 2)).has_value());
}

// Which way a value falls out of range depends on where its digits sit, so an exponent whose sign
// disagrees with the magnitude must not decide it.
TEST_CASE(float_text_range_follows_digit_position) {
    struct Row {
        std::string text;
        double expected;
    };
    const Row rows[] = {
        {"0." + std::string(400, '0') + "1e5", 0.0},
        {"-0." + std::string(400, '0') + "1e+5", -0.0},
        {"1" + std::string(400, '0') + "e-5", kInf},
        {"-1" + std::string(400, '0') + ".5e-5", -kInf},
        {"0." + std::string(400, '0') + "1e400", 0.1},
        {"1" + std::string(400, '0') + "e-400", 1.0},
    };
    for (const Row& row : rows) {
        CONTEXT(row.text.substr(0, 12) + "..." + row.text.substr(row.text.size() - 6));
        const std::optional<double> parsed = parse_float_text(row.text);
        CHECK(parsed.has_value());
        if (parsed) CHECK_EQ(bits(*parsed), bits(row.expected));
    }
}

TEST_CASE(float_text_long_mantissa) {
    // 800 significant digits of which only the leading ones matter.
    const std::string text = "0." + std::string(400, '0') + "1" + std::string(400, '7') + "e401";
    const std::optional<double> parsed = parse_float_text(text);
    CHECK(parsed.has_value());
    if (parsed) CHECK_EQ(*parsed, 1.7777777777777777);
}
