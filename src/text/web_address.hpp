// Django's email, URL and slug validators, decided without regular expressions. Each takes ASCII
// text (callers route other text to Django itself) and answers whether Django's validator of the
// same name accepts it.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace sorvel::text {

// EmailValidator: a dot-atom or quoted local part, "@", then a host name whose last label is a
// top-level domain, an allow-listed domain, or a bracketed IP literal.
bool is_email_address(std::string_view text, std::span<const std::string> domain_allowlist);

// URLValidator with the given lower-case schemes: its regular expression, the scheme rule, the
// checks of urllib.parse.urlsplit, the bracketed IPv6 host and the 253-character host name.
bool is_url(std::string_view text, std::span<const std::string> schemes);

// validate_slug: one or more of A-Z, a-z, 0-9, "_" and "-".
bool is_slug(std::string_view text);

// A DNS host label of a domain name as Django's host patterns read them (1..63 letters, digits
// and hyphens, no hyphen first or last); exposed for the URL and email checks.
bool is_host_name(std::string_view text, bool allow_trailing_dot);

}  // namespace sorvel::text
