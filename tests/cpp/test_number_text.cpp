#include <charconv>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include "check.hpp"
#include "text/number_text.hpp"

using namespace sorvel::text;

namespace {

std::string text_of(double value) {
    std::string out;
    append_double(out, value);
    return out;
}

}  // namespace

TEST_CASE(number_text_doubles_are_shortest_and_positional) {
    struct Row {
        double value;
        std::string text;
    };
    const double inf = std::numeric_limits<double>::infinity();
    const Row rows[] = {
        {10.0, "10"},
        {1.5, "1.5"},
        {1e-7, "0.0000001"},
        {1e21, "1" + std::string(21, '0')},
        {-2.5, "-2.5"},
        {0.0, "0"},
        {-0.0, "-0"},
        {0.1, "0.1"},
        {100.0, "100"},
        {123.456, "123.456"},
        {0.000123, "0.000123"},
        {1e16, "10000000000000000"},
        {9007199254740993.0, "9007199254740992"},
        {1.7976931348623157e308, "17976931348623157" + std::string(292, '0')},
        {5e-324, "0." + std::string(323, '0') + "5"},
        {std::numeric_limits<double>::quiet_NaN(), "NaN"},
        {inf, "inf"},
        {-inf, "-inf"},
    };
    for (const Row& row : rows) {
        CONTEXT(row.text.substr(0, 40));
        CHECK_EQ(text_of(row.value), row.text);
    }
}

TEST_CASE(number_text_doubles_read_back_exactly) {
    // Bit patterns spread over the whole exponent range; each text must parse to the same bits.
    uint64_t state = 0x9E3779B97F4A7C15ULL;
    int mismatches = 0;
    for (int i = 0; i < 20000 && mismatches < 5; ++i) {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        double value = 0;
        std::memcpy(&value, &state, sizeof value);
        if (value != value || value - value != 0) continue;  // NaN or infinity
        const std::string text = text_of(value);
        double back = 0;
        const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), back);
        const bool same = ec == std::errc() && ptr == text.data() + text.size() &&
                          std::memcmp(&back, &value, sizeof value) == 0 &&
                          text.find_first_of("eE") == std::string::npos;
        if (!same) {
            ++mismatches;
            CHECK_EQ(text, "a text reading back as the same double");
        }
    }
}

TEST_CASE(number_text_integers) {
    std::string out;
    append_int(out, INT64_MIN);
    out.push_back(' ');
    append_int(out, -1);
    out.push_back(' ');
    append_int(out, 0);
    out.push_back(' ');
    append_uint(out, UINT64_MAX);
    CHECK_EQ(out, "-9223372036854775808 -1 0 18446744073709551615");
}
