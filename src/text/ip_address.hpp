// IP address texts checked the way Python's ipaddress module parses them, and Django's IPv6 rule
// (which adds a length limit). The input is ASCII text; callers decide other text elsewhere.
#pragma once

#include <string_view>

namespace sorvel::text {

// ipaddress.IPv4Address(text) succeeds: four dot-separated decimal octets 0..255, no leading
// zeros.
bool is_ipv4_address(std::string_view text);

// ipaddress.IPv6Address(text) succeeds: hextets with at most one "::", an optional dotted IPv4
// tail, an optional non-empty "%scope" suffix.
bool is_ipv6_address(std::string_view text);

// Django's is_valid_ipv6_address: at most 39 characters, then ipaddress's rule.
bool is_django_ipv6_address(std::string_view text);

// Django's validate_ipv46_address accepts the text.
inline bool is_ipv46_address(std::string_view text) {
    return is_ipv4_address(text) || is_django_ipv6_address(text);
}

}  // namespace sorvel::text
