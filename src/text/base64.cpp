#include "text/base64.hpp"

namespace sorvel::text {

void append_base64(std::string& out, const uint8_t* data, size_t size) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const size_t start = out.size();
    out.resize(start + (size + 2) / 3 * 4);
    char* dst = out.data() + start;
    size_t i = 0;
    for (; i + 3 <= size; i += 3) {
        const uint32_t group = uint32_t{data[i]} << 16 | uint32_t{data[i + 1]} << 8 | data[i + 2];
        *dst++ = kAlphabet[group >> 18];
        *dst++ = kAlphabet[group >> 12 & 0x3F];
        *dst++ = kAlphabet[group >> 6 & 0x3F];
        *dst++ = kAlphabet[group & 0x3F];
    }
    const size_t rest = size - i;
    if (rest == 0) return;
    const uint32_t group = uint32_t{data[i]} << 16 | (rest == 2 ? uint32_t{data[i + 1]} << 8 : 0);
    *dst++ = kAlphabet[group >> 18];
    *dst++ = kAlphabet[group >> 12 & 0x3F];
    *dst++ = rest == 2 ? kAlphabet[group >> 6 & 0x3F] : '=';
    *dst = '=';
}

}  // namespace sorvel::text
