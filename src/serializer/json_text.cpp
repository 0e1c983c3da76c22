#include "serializer/json_text.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "frame/convert.hpp"
#include "serializer/failure.hpp"
#include "text/shortest_double.hpp"

namespace sorvel::serializer {

using frame::Ref;

namespace {

// Which bytes a JSON string cannot hold as they are: the control characters, '"' and '\'.
struct EscapeTable {
    bool needs[256] = {};
    constexpr EscapeTable() {
        for (int c = 0; c < 0x20; ++c)
            needs[c] = true;
        needs[int('"')] = true;
        needs[int('\\')] = true;
    }
};
constexpr EscapeTable kEscape;

// Whether any of the eight bytes is a control character, '"' or '\\' (bytes of 0x80 and above
// are UTF-8 and pass).
inline bool word_needs_escape(uint64_t word) {
    constexpr uint64_t kOnes = 0x0101010101010101ull;
    constexpr uint64_t kHigh = 0x8080808080808080ull;
    const uint64_t quote = word ^ (kOnes * uint64_t('"'));
    const uint64_t backslash = word ^ (kOnes * uint64_t('\\'));
    const uint64_t zero_in_quote = (quote - kOnes) & ~quote;
    const uint64_t zero_in_backslash = (backslash - kOnes) & ~backslash;
    const uint64_t below_space = (word - kOnes * 0x20) & ~word;
    return ((zero_in_quote | zero_in_backslash | below_space) & kHigh) != 0;
}

void append_escaped(TextBuffer& out, const char* data, size_t size) {
    size_t start = 0;
    while (start + 8 <= size) {
        uint64_t word;
        std::memcpy(&word, data + start, 8);
        if (word_needs_escape(word)) break;
        start += 8;
    }
    size_t run = 0;
    for (size_t i = start; i < size; ++i) {
        const auto byte = static_cast<unsigned char>(data[i]);
        if (!kEscape.needs[byte]) continue;
        out.append(data + run, i - run);
        run = i + 1;
        switch (byte) {
            case '"':
                out.append("\\\"");
                break;
            case '\\':
                out.append("\\\\");
                break;
            case '\n':
                out.append("\\n");
                break;
            case '\r':
                out.append("\\r");
                break;
            case '\t':
                out.append("\\t");
                break;
            case '\b':
                out.append("\\b");
                break;
            case '\f':
                out.append("\\f");
                break;
            default: {
                constexpr char kHex[] = "0123456789abcdef";
                const char escape[] = {'\\', 'u', '0', '0', kHex[byte >> 4], kHex[byte & 15]};
                out.append(escape, sizeof escape);
            }
        }
    }
    out.append(data + run, size - run);
}

// Copies the text between quotes when none of it needs escaping (the usual case): eight bytes
// at a time, the last eight overlapping. False, with nothing committed, otherwise.
bool append_plain(TextBuffer& out, const char* data, size_t size) {
    char* p = out.room(size + 2);
    *p++ = '"';
    uint64_t word;
    size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        std::memcpy(&word, data + i, 8);
        if (word_needs_escape(word)) return false;
        std::memcpy(p + i, &word, 8);
    }
    if (i < size) {
        if (size >= 8) {
            std::memcpy(&word, data + size - 8, 8);
            if (word_needs_escape(word)) return false;
            std::memcpy(p + size - 8, &word, 8);
        } else {
            for (; i < size; ++i) {
                if (kEscape.needs[static_cast<unsigned char>(data[i])]) return false;
                p[i] = data[i];
            }
        }
    }
    p[size] = '"';
    out.commit(p + size + 1);
    return true;
}

}  // namespace

void append_json_str(TextBuffer& out, PyObject* str) {
    const char* data;
    Py_ssize_t size;
    if (PyUnicode_IS_ASCII(str)) {
        data = static_cast<const char*>(PyUnicode_DATA(str));
        size = PyUnicode_GET_LENGTH(str);
    } else {
        data = PyUnicode_AsUTF8AndSize(str, &size);
        if (data == nullptr) fail_fetched();
    }
    if (append_plain(out, data, size_t(size))) return;
    out.push('"');
    append_escaped(out, data, size_t(size));
    out.push('"');
}

void append_json_int(TextBuffer& out, PyObject* integer) {
    int overflow = 0;
    const long long value = PyLong_AsLongLongAndOverflow(integer, &overflow);
    if (overflow == 0) {
        if (value == -1 && PyErr_Occurred()) fail_fetched();
        char digits[24];
        auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
        out.append(digits, size_t(end - digits));
        return;
    }
    // Beyond 64 bits: the interpreter's own decimal text (int's, not a subclass's __repr__).
    Ref text = Ref::steal(PyLong_Type.tp_repr(integer));
    if (!text) fail_fetched();
    out.append(frame::as_text(text.get()));
}

void append_json_float(TextBuffer& out, double value) {
    if (!std::isfinite(value)) {
        fail(std::string("float ") +
             (std::isnan(value) ? "NaN"
              : value > 0       ? "inf"
                                : "-inf") +
             " has no JSON form");
    }
    // Written in place, with room for a ".0" that marks an integral value as a float.
    char* start = out.room(text::kShortestDoubleSize + 2);
    auto [end, integral] = text::write_shortest_double(start, value);
    if (integral) {
        end[0] = '.';
        end[1] = '0';
        end += 2;
    }
    out.commit(end);
}

std::string json_key_text(PyObject* key) {
    TextBuffer out;
    append_json_str(out, key);
    out.push(':');
    return std::string(out.view());
}

}  // namespace sorvel::serializer
