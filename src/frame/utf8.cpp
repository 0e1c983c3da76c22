#include "frame/utf8.hpp"

#include <cstdint>

namespace sorvel::frame {
namespace {

// Length of the well-formed sequence starting at `at`, or 0 with `bad` set to the length of the
// maximal invalid subpart to replace.
size_t sequence_length(std::string_view s, size_t at, size_t& bad) {
    const auto byte = [&](size_t i) { return uint8_t(s[i]); };
    const uint8_t lead = byte(at);
    bad = 1;
    if (lead < 0x80) return 1;
    size_t need;
    uint8_t low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        need = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        need = 2;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        need = 3;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    for (size_t k = 1; k <= need; ++k) {
        if (at + k >= s.size()) return 0;
        const uint8_t next = byte(at + k);
        const bool ok = k == 1 ? (next >= low && next <= high) : (next >= 0x80 && next <= 0xBF);
        if (!ok) return 0;
        bad = k + 1;
    }
    return need + 1;
}

}  // namespace

std::string lossy_utf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    size_t at = 0;
    while (at < bytes.size()) {
        size_t bad = 0;
        const size_t length = sequence_length(bytes, at, bad);
        if (length != 0) {
            out.append(bytes.substr(at, length));
            at += length;
        } else {
            out.append("\xEF\xBF\xBD");
            at += bad;
        }
    }
    return out;
}

}  // namespace sorvel::frame
