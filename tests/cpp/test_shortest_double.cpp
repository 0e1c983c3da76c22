#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>

#include "check.hpp"
#include "text/shortest_double.hpp"

using sorvel::text::kShortestDoubleSize;
using sorvel::text::write_shortest_double;

namespace {

std::string ours(double value) {
    char buf[kShortestDoubleSize];
    const auto text = write_shortest_double(buf, value);
    const std::string written(buf, size_t(text.end - buf));
    CHECK_EQ(text.integral, written.find_first_of(".e") == std::string::npos);
    return written;
}

std::string theirs(double value) {
    char buf[64];
    return std::string(buf, size_t(std::to_chars(buf, buf + sizeof buf, value).ptr - buf));
}

// Counts mismatches and reports the first few, so a broken branch does not flood the output.
struct Compare {
    int mismatches = 0;
    void operator()(double value) {
        if (!std::isfinite(value)) return;
        const std::string got = ours(value);
        const std::string expected = theirs(value);
        if (got != expected && ++mismatches <= 10) {
            CONTEXT(std::to_string(std::bit_cast<uint64_t>(value)));
            CHECK_EQ(got, expected);
        }
        if (std::signbit(value) == false) (*this)(-value);
    }
    ~Compare() { CHECK_EQ(mismatches, 0); }
};

}  // namespace

TEST_CASE(shortest_double_known_texts) {
    struct Row {
        double value;
        const char* text;
    };
    const Row rows[] = {
        {0.0, "0"},          {-0.0, "-0"},        {1.0, "1"},
        {0.1, "0.1"},        {3.142, "3.142"},    {-2.5, "-2.5"},
        {1.0 / 3, "0.3333333333333333"},          {2.0 / 3, "0.6666666666666666"},
        {100.0, "100"},      {1e15, "1e+15"},     {123e13, "1.23e+15"},
        {0.001, "0.001"},    {0.0001, "1e-04"},  {0.00012, "0.00012"},
        {1e-5, "1e-05"},     {1e300, "1e+300"},   {5e-324, "5e-324"},
        {9007199254740991.0, "9007199254740991"}, {0.30000000000000004, "0.30000000000000004"},
    };
    for (const Row& row : rows) {
        CONTEXT(row.text);
        CHECK_EQ(ours(row.value), std::string(row.text));
        CHECK_EQ(theirs(row.value), std::string(row.text));
    }
}

TEST_CASE(shortest_double_matches_to_chars_on_random_bits) {
    std::mt19937_64 random(20240611);
    Compare compare;
    // Every binary exponent around the range computed here, with random fractions, and the
    // fractions at the ends (powers of two and their neighbours).
    for (int biased = 1; biased < 2047; ++biased) {
        const int reps = (biased >= 1000 && biased <= 1090) ? 4000 : 40;
        for (int i = 0; i < reps; ++i) {
            const uint64_t fraction = random() & ((uint64_t(1) << 52) - 1);
            compare(std::bit_cast<double>((uint64_t(biased) << 52) | fraction));
        }
        for (uint64_t fraction : {uint64_t(0), uint64_t(1), uint64_t(2), (uint64_t(1) << 52) - 1,
                                  (uint64_t(1) << 51)}) {
            compare(std::bit_cast<double>((uint64_t(biased) << 52) | fraction));
        }
    }
    for (int i = 0; i < 20000; ++i)
        compare(std::bit_cast<double>(random() & ((uint64_t(1) << 52) - 1)));  // subnormal
}

TEST_CASE(shortest_double_matches_to_chars_on_short_decimals) {
    std::mt19937_64 random(7);
    Compare compare;
    // What data mostly holds: few digits, at every position of the decimal point.
    for (int digits = 1; digits <= 17; ++digits) {
        const uint64_t limit = uint64_t(std::pow(10.0, digits));
        for (int scale = -8; scale <= 22; ++scale) {
            for (int i = 0; i < 300; ++i) {
                const double mantissa = double(random() % limit);
                const double value = scale >= 0 ? mantissa / std::pow(10.0, scale)
                                                 : mantissa * std::pow(10.0, -scale);
                compare(value);
                compare(std::nextafter(value, 0.0));
                compare(std::nextafter(value, 1e300));
            }
        }
    }
    for (int i = 0; i <= 200000; ++i)
        compare(double(i));
    for (int e = -20; e <= 20; ++e) {
        const double power = std::pow(10.0, e);
        compare(power);
        compare(std::nextafter(power, 0.0));
        compare(std::nextafter(power, 1e300));
    }
}
