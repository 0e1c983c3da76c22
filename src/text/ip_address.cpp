#include "text/ip_address.hpp"

#include <cstddef>
#include <vector>

namespace sorvel::text {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool is_hex(char c) { return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

bool is_octet(std::string_view octet) {
    if (octet.empty() || octet.size() > 3) return false;
    for (char c : octet)
        if (!is_digit(c)) return false;
    if (octet.size() > 1 && octet[0] == '0') return false;
    int value = 0;
    for (char c : octet)
        value = value * 10 + (c - '0');
    return value <= 255;
}

// An empty hextet fails like int("", 16) does.
bool is_hextet(std::string_view hextet) {
    if (hextet.empty() || hextet.size() > 4) return false;
    for (char c : hextet)
        if (!is_hex(c)) return false;
    return true;
}

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (;;) {
        size_t at = text.find(separator, start);
        if (at == std::string_view::npos) {
            parts.push_back(text.substr(start));
            return parts;
        }
        parts.push_back(text.substr(start, at - start));
        start = at + 1;
    }
}

constexpr size_t kHextets = 8;

struct Part {
    std::string_view text;
    bool from_ipv4 = false;  // one of the two hextets a dotted IPv4 tail stands for
    bool empty() const { return !from_ipv4 && text.empty(); }
    bool valid() const { return from_ipv4 || is_hextet(text); }
};

// The steps of ipaddress's IPv6 parser, in its order, without building the integer.
bool is_ipv6_body(std::string_view text) {
    if (text.empty()) return false;
    std::vector<Part> parts;
    for (std::string_view part : split(text, ':'))
        parts.push_back({part});
    if (parts.size() < 3) return false;
    if (parts.back().text.find('.') != std::string_view::npos) {
        if (!is_ipv4_address(parts.back().text)) return false;
        parts.back() = {{}, true};
        parts.push_back({{}, true});
    }
    const size_t count = parts.size();
    if (count > kHextets + 1) return false;
    size_t skip = 0;
    for (size_t i = 1; i + 1 < count; ++i) {
        if (parts[i].empty()) {
            if (skip != 0) return false;
            skip = i;
        }
    }
    size_t hi = 0, lo = 0;
    if (skip != 0) {
        hi = skip;
        lo = count - skip - 1;
        if (parts[0].empty() && --hi != 0) return false;
        if (parts[count - 1].empty() && --lo != 0) return false;
        if (hi + lo >= kHextets) return false;
    } else {
        if (count != kHextets || parts[0].empty() || parts[count - 1].empty()) return false;
        hi = count;
    }
    for (size_t i = 0; i < hi; ++i)
        if (!parts[i].valid()) return false;
    for (size_t i = count - lo; i < count; ++i)
        if (!parts[i].valid()) return false;
    return true;
}

}  // namespace

// Four octets between three dots, found in place: URL checks ask this of every host too.
bool is_ipv4_address(std::string_view text) {
    size_t start = 0;
    for (int i = 0; i < 4; ++i) {
        size_t end = i < 3 ? text.find('.', start) : text.size();
        if (end == std::string_view::npos) return false;
        if (!is_octet(text.substr(start, end - start))) return false;
        start = end + 1;
    }
    return true;
}

bool is_ipv6_address(std::string_view text) {
    if (text.find('/') != std::string_view::npos) return false;
    size_t percent = text.find('%');
    if (percent != std::string_view::npos) {
        std::string_view scope = text.substr(percent + 1);
        if (scope.empty() || scope.find('%') != std::string_view::npos) return false;
        text = text.substr(0, percent);
    }
    return is_ipv6_body(text);
}

bool is_django_ipv6_address(std::string_view text) {
    return text.size() <= 39 && is_ipv6_address(text);
}

}  // namespace sorvel::text
