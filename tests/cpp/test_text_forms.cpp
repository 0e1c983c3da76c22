// The buffer writers against their append_* counterparts: identical text for every value of a
// generated sweep, edge values included.
#include <random>
#include <string>

#include "check.hpp"
#include "text/base64.hpp"
#include "text/text_forms.hpp"

using namespace sorvel::text;

namespace {

template <class Write, class Value>
std::string written(Write write, const Value& value) {
    char buf[kMaxTextForm];
    return std::string(buf, size_t(write(buf, value) - buf));
}

template <class Append, class Value>
std::string appended(Append append, const Value& value) {
    std::string out;
    append(out, value);
    return out;
}

}  // namespace

TEST_CASE(text_forms_match_the_appenders) {
    std::mt19937_64 random(9);
    const int32_t years[] = {1,    9, 10, 99,     999,   1000,       1970,
                             9999, 0, -1, -12345, 10000, 2147483647, -2147483647 - 1};
    const uint32_t nanoseconds[] = {0, 1, 999, 1000, 120000000, 123456000, 123456789, 999999999};
    for (int32_t year : years) {
        for (uint32_t ns : nanoseconds) {
            const Date date{year, uint8_t(1 + random() % 12), uint8_t(1 + random() % 28)};
            const Time time{uint8_t(random() % 24), uint8_t(random() % 60), uint8_t(random() % 60),
                            ns};
            CONTEXT(appended(append_datetime_utc, DateTime{date, time}));
            CHECK_EQ(written(write_date, date), appended(append_date, date));
            CHECK_EQ(written(write_time, time), appended(append_time, time));
            CHECK_EQ(written(write_datetime_utc, DateTime{date, time}),
                     appended(append_datetime_utc, DateTime{date, time}));
        }
    }
    const u128 mantissas[] = {0,
                              1,
                              9,
                              10,
                              12345,
                              10000000000000000000ULL,
                              (u128{1} << 64) + 7,
                              kDecimalMantissaLimit - 1};
    for (u128 mantissa : mantissas) {
        for (uint8_t scale = 0; scale <= kMaxDecimalScale; ++scale) {
            for (bool negative : {false, true}) {
                const Decimal value{mantissa, scale, negative};
                CONTEXT(appended(append_decimal, value));
                CHECK_EQ(written(write_decimal, value), appended(append_decimal, value));
            }
        }
    }
    for (size_t size = 0; size < 40; ++size) {
        std::string data;
        for (size_t i = 0; i < size; ++i)
            data.push_back(char(random()));
        std::string out(base64_length(size), '?');
        char* end = write_base64(out.data(), reinterpret_cast<const uint8_t*>(data.data()), size);
        CHECK_EQ(size_t(end - out.data()), out.size());
        std::string expected;
        append_base64(expected, reinterpret_cast<const uint8_t*>(data.data()), size);
        CHECK_EQ(out, expected);
    }
}
