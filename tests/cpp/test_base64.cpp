#include <string>

#include "check.hpp"
#include "text/base64.hpp"

using namespace sorvel::text;

TEST_CASE(base64_pads_every_tail_length) {
    struct Row {
        std::string input;
        std::string encoded;
    };
    const Row rows[] = {
        {"", ""},
        {"a", "YQ=="},
        {"ab", "YWI="},
        {"abc", "YWJj"},
        {"abcd", "YWJjZA=="},
        {"abcde", "YWJjZGU="},
        {std::string("\0", 1), "AA=="},
        {"\xFF\xFE\xFD", "//79"},
        {"\xFB\xEF\xBE", "++++"},
        {"hello, world!", "aGVsbG8sIHdvcmxkIQ=="},
    };
    for (const Row& row : rows) {
        CONTEXT(row.encoded);
        std::string out = ">";
        append_base64(out, reinterpret_cast<const uint8_t*>(row.input.data()), row.input.size());
        CHECK_EQ(out, ">" + row.encoded);
    }
}
