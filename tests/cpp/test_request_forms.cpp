// The plain request-text forms and Django's address rules, at the codec level. The Python tests
// compare the same rules with Django itself on a generated corpus; these rows pin the edges.
#include <string>
#include <vector>

#include "check.hpp"
#include "text/ip_address.hpp"
#include "text/plain_forms.hpp"
#include "text/web_address.hpp"

using namespace sorvel::text;

TEST_CASE(plain_dates_are_real_days_in_one_form) {
    CHECK(parse_plain_date("2024-02-29").has_value());
    const char* refused[] = {"2023-02-29", "2024-13-01",  "0000-01-01", "2024-1-01",
                             "20240101",   "2024-01-01 ", "٢٠٢٤-01-01"};
    for (const char* text : refused) {
        CONTEXT(text);
        CHECK(!parse_plain_date(text).has_value());
    }
}

TEST_CASE(plain_times_and_datetimes) {
    auto time = parse_plain_time("10:30:15.123");
    CHECK(time && time->microsecond == 123000);
    CHECK(!parse_plain_time("10:30:15.1234").has_value());
    CHECK(!parse_plain_time("24:00").has_value());
    auto stamp = parse_plain_datetime("2024-05-01T10:00:00-05:30");
    CHECK(stamp && stamp->has_offset && stamp->offset_minutes == -330);
    auto utc = parse_plain_datetime("2024-05-01 10:00Z");
    CHECK(utc && utc->has_offset && utc->offset_minutes == 0);
    CHECK(!parse_plain_datetime("2024-05-01T10:00:00+24:00").has_value());
    CHECK(!parse_plain_datetime("2024-05-01").has_value());
    auto full = parse_plain_datetime("9999-12-31T23:59:59.999999+23:59");
    CHECK(full && full->date.year == 9999 && full->date.day == 31 && full->time.second == 59 &&
          full->time.microsecond == 999999 && full->offset_minutes == 23 * 60 + 59);
    const char* refused[] = {"2024-05-01T10:00:0a", "2024-05-01T10:00:00.12a", "2024-05-01T1a:00",
                             "2024-05-01T10:00:00.1234567", "2024-05-01T10:00+0a:00",
                             "2024-04-31T10:00"};
    for (const char* text : refused) {
        CONTEXT(text);
        CHECK(!parse_plain_datetime(text).has_value());
    }
}

TEST_CASE(decimal_shapes_follow_as_tuple) {
    struct Row {
        const char* text;
        long digits, exponent;
        bool zero;
    };
    const Row rows[] = {{"00012.50", 4, -2, false}, {"0.00", 1, -2, true}, {"0.05", 1, -2, false},
                        {"1E+3", 1, 3, false},      {"-.5", 1, -1, false}, {"5.", 1, 0, false},
                        {"12e-4", 2, -4, false}};
    for (const Row& row : rows) {
        CONTEXT(row.text);
        auto shape = parse_decimal_shape(row.text);
        CHECK(shape && shape->digits == row.digits && shape->exponent == row.exponent &&
              shape->zero == row.zero);
    }
    const char* refused[] = {".", "1_0", " 1", "NaN", "1e", "1e1234567890", "+"};
    for (const char* text : refused) {
        CONTEXT(text);
        CHECK(!parse_decimal_shape(text).has_value());
    }
}

TEST_CASE(plain_uuids) {
    auto bytes = parse_plain_uuid("0123ABCD-89ab-cdef-0123-456789abcdef");
    CHECK(bytes && (*bytes)[0] == 0x01 && (*bytes)[15] == 0xef);
    CHECK(parse_plain_uuid("0123abcd89abcdef0123456789abcdef").has_value());
    CHECK(!parse_plain_uuid("0123abcd-89ab-cdef-0123-456789abcdeg").has_value());
    CHECK(!parse_plain_uuid("0123abcd-89abc-def-0123-456789abcdef").has_value());
    // Every byte in place, from each group of either form.
    const std::string hyphenated = "00112233-4455-6677-8899-aabbccddeeff";
    auto all = parse_plain_uuid(hyphenated);
    CHECK(all.has_value());
    for (size_t i = 0; all && i < 16; ++i)
        CHECK((*all)[i] == 0x11 * i);
    std::string plain = "00112233445566778899AABBCCDDEEFF";
    CHECK(parse_plain_uuid(plain) == all);
    for (size_t at = 0; at < hyphenated.size(); ++at) {
        std::string bad = hyphenated;
        bad[at] = bad[at] == '-' ? '0' : 'g';
        CONTEXT(bad);
        CHECK(!parse_plain_uuid(bad).has_value());
    }
    for (size_t at = 0; at < plain.size(); ++at) {
        std::string bad = plain;
        bad[at] = '\xC3';
        CONTEXT(std::to_string(at));
        CHECK(!parse_plain_uuid(bad).has_value());
    }
}

TEST_CASE(ip_addresses_as_ipaddress_reads_them) {
    const char* valid[] = {"1.2.3.4",
                           "::",
                           "::1",
                           "1::",
                           "1:2:3:4:5:6:7:8",
                           "::ffff:1.2.3.4",
                           "1:2:3:4:5:6:1.2.3.4",
                           "fe80::1%eth0"};
    for (const char* text : valid) {
        CONTEXT(text);
        CHECK(is_ipv46_address(text));
    }
    const char* invalid[] = {"01.2.3.4",
                             "1.2.3",
                             "256.1.1.1",
                             ":::",
                             "1::2::3",
                             "1:2:3:4:5:6:7:8:9",
                             ":1:2:3:4:5:6:7",
                             "1::%",
                             "12345::",
                             "::1/64",
                             "1:2:3:4:5:6:7:1.2.3.4"};
    for (const char* text : invalid) {
        CONTEXT(text);
        CHECK(!is_ipv46_address(text));
    }
    // Django's own limit: 39 characters, however valid the address.
    CHECK(is_ipv6_address("0000:0000:0000:0000:0000:0000:0000:0001%e"));
    CHECK(!is_django_ipv6_address("0000:0000:0000:0000:0000:0000:0000:0001%e"));
}

TEST_CASE(emails_urls_and_slugs) {
    const std::vector<std::string> allow = {"localhost"};
    CHECK(is_email_address("a.b+c@example.co.uk", allow));
    CHECK(is_email_address("\"a\\\"b\"@[::1]", allow));
    CHECK(!is_email_address("a..b@example.com", allow));
    CHECK(!is_email_address("a@example.c0m", allow));
    const std::vector<std::string> schemes = {"http", "https"};
    CHECK(is_url("http://user:pw@[::1]:8080/x?y#z", schemes));
    CHECK(is_url("HTTPS://example.com.", schemes));
    CHECK(!is_url("http://[1.2.3.4]/", schemes));
    CHECK(!is_url("ftp://example.com", schemes));
    CHECK(!is_url("http://example.com:123456", schemes));
    CHECK(is_slug("a-Z_0"));
    CHECK(!is_slug("a b"));
    CHECK(!is_slug(""));
}
