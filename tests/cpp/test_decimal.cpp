#include <string>

#include "check.hpp"
#include "text/decimal.hpp"

using namespace sorvel::text;

namespace {

std::string text_of(const Decimal& value) {
    std::string out;
    append_decimal(out, value);
    return out;
}

std::string repeat(char c, size_t n) { return std::string(n, c); }

}  // namespace

TEST_CASE(decimal_parses_values_with_their_scale) {
    struct Row {
        std::string input;
        std::string text;
        int scale;
    };
    const std::string zeros27 = repeat('0', 27);
    const Row rows[] = {
        {"1.50", "1.50", 2},
        {"+1.50", "1.50", 2},
        {"-0.5", "-0.5", 1},
        {".5", "0.5", 1},
        {"5.", "5", 0},
        {"-0", "-0", 0},
        {"007", "7", 0},
        {"1_000.000_1", "1000.0001", 4},
        {"1_", "1", 0},
        {"0.000", "0.000", 3},
        // The largest mantissa, with and without a fractional digit.
        {"79228162514264337593543950335", "79228162514264337593543950335", 0},
        {"7922816251426433759354395033.5", "7922816251426433759354395033.5", 1},
        // Scale caps at 28; the 29th fractional digit rounds half-up and ends the reading.
        {"0." + zeros27 + "1", "0." + zeros27 + "1", 28},
        {"0." + zeros27 + "15", "0." + zeros27 + "2", 28},
        {"0." + zeros27 + "14", "0." + zeros27 + "1", 28},
        {"0." + zeros27 + "1_5", "0." + zeros27 + "2", 28},
        {"0." + zeros27 + "15x.y", "0." + zeros27 + "2", 28},
        {"1.2345678901234567890123456789012", "1.2345678901234567890123456789", 28},
        // The mantissa fills up before the scale does: 28 nines round up to 10^28.
        {"9." + repeat('9', 28), "10." + repeat('0', 27), 27},
        // Rounding up overflows 96 bits, so one more digit goes (half-up again).
        {"7922816251426433759354395033.59", "7922816251426433759354395034", 0},
        {"79228162514264337593543950335.4", "79228162514264337593543950335", 0},
    };
    for (const Row& row : rows) {
        CONTEXT(row.input);
        const auto parsed = parse_decimal(row.input);
        CHECK(parsed.ok());
        if (!parsed) continue;
        CHECK_EQ(text_of(parsed.value()), row.text);
        CHECK_EQ(parsed.value().scale, row.scale);
        CHECK(parsed.value().mantissa < kDecimalMantissaLimit);
    }
}

TEST_CASE(decimal_rejects_malformed_text) {
    struct Row {
        std::string input;
        std::string error;
    };
    const std::string unknown = "Invalid decimal: unknown character";
    const std::string no_digits = "Invalid decimal: no digits found";
    const std::string two_points = "Invalid decimal: two decimal points";
    const std::string leading = "Invalid decimal: must start lead with a number";
    const std::string too_many = "Invalid decimal: overflow from too many digits";
    const Row rows[] = {
        {"", "Invalid decimal: empty"},
        {"+", no_digits},
        {"-", no_digits},
        {".", no_digits},
        {"-.", no_digits},
        {"1.2.3", two_points},
        {"..1", two_points},
        {"_1", leading},
        {"-_1", leading},
        {"._1", leading},
        {"NaN", unknown},
        {"-Infinity", unknown},
        {"1e5", unknown},
        {"1E5", unknown},
        {" 1", unknown},
        {"1 ", unknown},
        {"--1", unknown},
        {"1-", unknown},
        {"79228162514264337593543950336", too_many},
        {"1" + repeat('0', 40) + ".5", too_many},
        {"79228162514264337593543950335.9",
         "Invalid decimal: overflow from mantissa after rounding"},
    };
    for (const Row& row : rows) {
        CONTEXT(row.input);
        const auto parsed = parse_decimal(row.input);
        CHECK(!parsed.ok());
        if (parsed) continue;
        CHECK_EQ(describe(parsed.error()), row.error);
    }
}

TEST_CASE(decimal_writes_positional_text) {
    const u128 ten19 = u128{10000000000000000000ULL};
    struct Row {
        Decimal value;
        std::string text;
        int digits;
    };
    const Row rows[] = {
        {{150, 2, false}, "1.50", 3},
        {{5, 2, false}, "0.05", 1},
        {{100, 0, false}, "100", 3},
        {{5, 1, true}, "-0.5", 1},
        {{0, 0, true}, "-0", 1},
        {{0, 0, false}, "0", 1},
        {{0, 3, false}, "0.000", 1},
        {{ten19 - 1, 0, false}, repeat('9', 19), 19},
        {{ten19, 0, false}, "1" + repeat('0', 19), 20},
        {{ten19 + 5, 19, false}, "1." + repeat('0', 18) + "5", 20},
        {{kDecimalMantissaLimit - 1, 28, true}, "-7.9228162514264337593543950335", 29},
    };
    for (const Row& row : rows) {
        CONTEXT(row.text);
        CHECK_EQ(text_of(row.value), row.text);
        CHECK_EQ(digit_count(row.value), row.digits);
    }
    std::string out = "x=";
    append_decimal(out, Decimal{15, 1, false});
    CHECK_EQ(out, "x=1.5");
}

TEST_CASE(decimal_counts_digits_and_places_of_text) {
    struct Row {
        std::string input;
        uint64_t digits;
        uint64_t places;
    };
    const Row rows[] = {
        {"1.50", 3, 2},
        {"0.05", 1, 2},
        {"1E+2", 3, 0},
        {"1E-8", 1, 8},
        {"-0", 1, 0},
        {"0", 1, 0},
        {"100", 3, 0},
        {"0.000", 1, 3},
        {"00.10", 2, 2},
        {"-12.345", 5, 3},
        {"1.5e3", 5, 0},
        {"1.23E-2", 3, 4},
        {"0E-3", 1, 3},
        {"1e2E3", 1, 0},  // exponent text "2E3" is not a number
        {"1E", 1, 0},
        {"1E+", 1, 0},
        {"1Ex", 1, 0},
        {"1E2147483648", 1, 0},  // beyond 32 bits counts as no exponent
        {"1E-2147483648", 1, 2147483648ULL},
        {"1E+2147483647", 2147483648ULL, 0},
        {"NaN", 3, 0},
        {"-Infinity", 8, 0},
        {"1.2.3", 4, 3},
    };
    for (const Row& row : rows) {
        CONTEXT(row.input);
        const DecimalDigits counted = count_decimal_text(row.input);
        CHECK_EQ(counted.digits, row.digits);
        CHECK_EQ(counted.places, row.places);
    }
}

TEST_CASE(decimal_positional_text_of_exponent_forms) {
    struct Row {
        std::string input;
        std::string text;  // empty: not an exponent form
    };
    const Row rows[] = {
        {"0E-8", "0.00000000"},
        {"5.0E-7", "0.00000050"},
        {"1E+2", "100"},
        {"1E-8", "0.00000001"},
        {"-1.5E-10", "-0.00000000015"},
        {"1.2345E+2", "123.45"},
        {"12.5e1", "125"},
        {"0E+5", "0"},
        {"-0E+5", "-0"},
        {"0.000E+2", "0.0"},
        {"1E0", "1"},
        // Only what the parser can read is kept: 40 integer and 30 fraction digits.
        {"1E+60", "1" + repeat('0', 39)},
        {"1E-60", "0." + repeat('0', 30)},
        {"1.234E-28", "0." + repeat('0', 27) + "123"},
        {"1E+99999999999999999999", "1" + repeat('0', 39)},
        {"1E-99999999999999999999", "0." + repeat('0', 30)},
        {"", ""},
        {"1", ""},
        {"1.5", ""},
        {"E5", ""},
        {".E5", ""},
        {"1E", ""},
        {"1E+", ""},
        {"1E5x", ""},
        {"1.2.3E4", ""},
        {"NaN", ""},
        {"Infinity", ""},
        {" 1E2", ""},
    };
    for (const Row& row : rows) {
        CONTEXT(row.input);
        const auto text = positional_decimal_text(row.input);
        CHECK_EQ(text.value_or(""), row.text);
    }
    // The shortened forms read as the full ones would.
    const auto tiny = parse_decimal(positional_decimal_text("5E-29").value());
    CHECK(tiny.ok());
    if (tiny) CHECK_EQ(text_of(tiny.value()), "0." + repeat('0', 27) + "1");
    const auto huge = parse_decimal(positional_decimal_text("1E+50").value());
    CHECK(!huge.ok());
    if (!huge) CHECK(huge.error() == DecimalError::TooManyDigits);
}
