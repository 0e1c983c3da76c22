#include "text/web_address.hpp"

#include <cstddef>

#include "text/ip_address.hpp"

namespace sorvel::text {
namespace {

bool is_alpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_alnum(char c) { return is_alpha(c) || is_digit(c); }
char lower(char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; }

bool equals_ignoring_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

// Python's str.isspace for ASCII, which is what "\s" means in a str pattern.
bool is_space(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r') || (c >= '\x1c' && c <= '\x1f');
}

// The local-part characters of a dot-atom.
bool is_atext(char c) {
    if (is_alnum(c)) return true;
    switch (c) {
        case '-':
        case '!':
        case '#':
        case '$':
        case '%':
        case '&':
        case '\'':
        case '*':
        case '+':
        case '/':
        case '=':
        case '?':
        case '^':
        case '_':
        case '`':
        case '{':
        case '}':
        case '|':
        case '~':
            return true;
        default:
            return false;
    }
}

bool is_dot_atom(std::string_view text) {
    size_t run = 0;
    for (char c : text) {
        if (c == '.') {
            if (run == 0) return false;
            run = 0;
        } else if (is_atext(c)) {
            ++run;
        } else {
            return false;
        }
    }
    return run != 0;
}

// "…" with plain characters (no NUL, tab, LF, CR, space, quote or backslash) and backslash
// escapes of anything but NUL, LF and CR. The first unmatched character must be the closing
// quote at the very end.
bool is_quoted_string(std::string_view text) {
    if (text.size() < 2 || text.front() != '"') return false;
    size_t i = 1;
    while (i < text.size()) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\\' && i + 1 < text.size()) {
            unsigned char next = static_cast<unsigned char>(text[i + 1]);
            if (next != 0 && next != '\n' && next != '\r' && next < 0x80) {
                i += 2;
                continue;
            }
            return false;
        }
        bool plain = c != 0 && c != '\t' && c != '\n' && c != '\r' && c != ' ' && c != '"' &&
                     c != '\\' && c < 0x80;
        if (!plain) break;
        ++i;
    }
    return i == text.size() - 1 && text[i] == '"';
}

bool is_label_char(char c) { return is_alnum(c) || c == '-'; }

bool is_middle_label(std::string_view label) {
    if (label.empty() || label.size() > 63) return false;
    if (label.front() == '-' || label.back() == '-') return false;
    for (char c : label)
        if (!is_label_char(c)) return false;
    return true;
}

// The first label: 1..63 characters, a letter or digit at both ends.
bool is_first_label(std::string_view label) {
    return is_middle_label(label) && is_alnum(label.front()) && is_alnum(label.back());
}

// The top-level domain: 2..63 letters and hyphens, or "xn--" and 1..59 letters and digits; no
// hyphen first or last.
bool is_top_label(std::string_view label) {
    if (label.empty() || label.front() == '-' || label.back() == '-') return false;
    bool letters = label.size() >= 2 && label.size() <= 63;
    for (char c : label)
        if (!(is_alpha(c) || c == '-')) letters = false;
    if (letters) return true;
    if (label.size() < 5 || label.size() > 63 || !equals_ignoring_case(label.substr(0, 4), "xn--"))
        return false;
    for (char c : label.substr(4))
        if (!is_alnum(c)) return false;
    return true;
}

}  // namespace

bool is_host_name(std::string_view text, bool allow_trailing_dot) {
    if (allow_trailing_dot && !text.empty() && text.back() == '.') text.remove_suffix(1);
    size_t first_dot = text.find('.');
    if (first_dot == std::string_view::npos) return false;
    if (!is_first_label(text.substr(0, first_dot))) return false;
    size_t last_dot = text.rfind('.');
    if (!is_top_label(text.substr(last_dot + 1))) return false;
    size_t start = first_dot + 1;
    while (start <= last_dot) {
        size_t end = text.find('.', start);
        if (end > last_dot) break;
        if (!is_middle_label(text.substr(start, end - start))) return false;
        start = end + 1;
    }
    return true;
}

bool is_email_address(std::string_view text, std::span<const std::string> domain_allowlist) {
    if (text.empty() || text.size() > 320) return false;
    size_t at = text.rfind('@');
    if (at == std::string_view::npos) return false;
    std::string_view user = text.substr(0, at);
    std::string_view domain = text.substr(at + 1);
    if (!is_dot_atom(user) && !is_quoted_string(user)) return false;
    for (const std::string& allowed : domain_allowlist)
        if (domain == allowed) return true;
    if (is_host_name(domain, false)) return true;
    // A literal: "[" hex digits, colons and dots "]" holding an IPv4 or IPv6 address.
    if (domain.size() < 3 || domain.front() != '[' || domain.back() != ']') return false;
    std::string_view literal = domain.substr(1, domain.size() - 2);
    for (char c : literal) {
        bool ok = is_digit(c) || (lower(c) >= 'a' && lower(c) <= 'f') || c == ':' || c == '.';
        if (!ok) return false;
    }
    return is_ipv46_address(literal);
}

bool is_slug(std::string_view text) {
    if (text.empty()) return false;
    for (char c : text)
        if (!(is_alnum(c) || c == '_' || c == '-')) return false;
    return true;
}

}  // namespace sorvel::text

namespace sorvel::text {
namespace {

constexpr size_t kMaxUrlLength = 2048;  // django.utils.http.MAX_URL_LENGTH
constexpr size_t kMaxHostName = 253;

bool is_scheme_char(char c) { return is_alnum(c) || c == '.' || c == '+' || c == '-'; }
bool is_host_char(char c) { return is_alnum(c) || c == '.' || c == '-'; }
bool is_hex_digit(char c) { return is_digit(c) || (lower(c) >= 'a' && lower(c) <= 'f'); }

// text.lower() == expected, as the scheme test compares.
bool equals_lowered(std::string_view text, std::string_view expected) {
    if (text.size() != expected.size()) return false;
    for (size_t i = 0; i < text.size(); ++i)
        if (lower(text[i]) != expected[i]) return false;
    return true;
}

// What may follow the host: an optional ":" and 1..5 digits, then nothing or one of "/?#" and
// no whitespace.
bool is_url_tail(std::string_view rest) {
    if (!rest.empty() && rest[0] == ':') {
        size_t digits = 1;
        while (digits < rest.size() && is_digit(rest[digits]))
            ++digits;
        if (digits == 1 || digits > 6) return false;
        rest.remove_prefix(digits);
    }
    if (rest.empty()) return true;
    if (rest[0] != '/' && rest[0] != '?' && rest[0] != '#') return false;
    for (char c : rest)
        if (is_space(c)) return false;
    return true;
}

// The host alternatives of the URL pattern (IPv4, bracketed IPv6 characters, host name, or
// "localhost") at the start of `text`, followed by a valid tail. Host characters never appear
// in the tail's first character, so a host must take the whole run of them.
bool is_url_host_and_tail(std::string_view text) {
    if (!text.empty() && text[0] == '[') {
        size_t close = 1;
        while (close < text.size() && text[close] != ']') {
            char c = text[close];
            if (!(is_hex_digit(c) || c == ':' || c == '.')) return false;
            ++close;
        }
        if (close == 1 || close == text.size()) return false;
        return is_url_tail(text.substr(close + 1));
    }
    size_t run = 0;
    while (run < text.size() && is_host_char(text[run]))
        ++run;
    std::string_view host = text.substr(0, run);
    if (host.empty()) return false;
    bool host_ok = is_ipv4_address(host) || equals_ignoring_case(host, "localhost") ||
                   is_host_name(host, true);
    return host_ok && is_url_tail(text.substr(run));
}

bool is_user_char(char c) { return !is_space(c) && c != ':' && c != '@' && c != '/'; }

// The URL pattern itself (matched from the start, to the very end).
bool matches_url_pattern(std::string_view text) {
    size_t scheme = 0;
    while (scheme < text.size() && is_scheme_char(text[scheme]))
        ++scheme;
    if (text.substr(scheme, 3) != "://") return false;
    std::string_view rest = text.substr(scheme + 3);
    // With "user[:password]@" first, else without: the pattern backtracks to the second.
    size_t user = 0;
    while (user < rest.size() && is_user_char(rest[user]))
        ++user;
    if (user > 0 && user < rest.size()) {
        size_t at = user;
        if (rest[at] == ':') {
            ++at;
            while (at < rest.size() && is_user_char(rest[at]))
                ++at;
        }
        if (at < rest.size() && rest[at] == '@' && is_url_host_and_tail(rest.substr(at + 1)))
            return true;
    }
    return is_url_host_and_tail(rest);
}

// What urllib.parse.urlsplit raises ValueError for, once the scheme is known to be valid: a
// lone bracket in the network location, or a bracketed host that is neither an IPv6 address
// nor an IPvFuture form.
bool splits(std::string_view netloc) {
    bool open = netloc.find('[') != std::string_view::npos;
    bool close = netloc.find(']') != std::string_view::npos;
    if (open != close) return false;
    if (!open) return true;
    std::string_view bracketed = netloc.substr(netloc.find('[') + 1);
    bracketed = bracketed.substr(0, bracketed.find(']'));
    if (!bracketed.empty() && bracketed[0] == 'v') {
        // \Av[a-fA-F0-9]+\..+\Z
        size_t i = 1;
        while (i < bracketed.size() && is_hex_digit(bracketed[i]))
            ++i;
        return i > 1 && i + 1 < bracketed.size() && bracketed[i] == '.';
    }
    // ipaddress.ip_address: an IPv4 address is refused in brackets.
    return !is_ipv4_address(bracketed) && is_ipv6_address(bracketed);
}

// ^\[(.+)\](?::[0-9]{1,5})?$ on the network location: the greedy group ends at the last "]"
// that leaves a valid port suffix. Empty when the pattern does not match.
std::string_view bracketed_ip(std::string_view netloc, bool& matched) {
    matched = false;
    if (netloc.size() < 3 || netloc[0] != '[') return {};
    for (size_t close = netloc.size(); close-- > 2;) {
        if (netloc[close] != ']') continue;
        std::string_view port = netloc.substr(close + 1);
        bool ok = port.empty();
        if (!ok && port[0] == ':' && port.size() >= 2 && port.size() <= 6) {
            ok = true;
            for (char c : port.substr(1))
                if (!is_digit(c)) ok = false;
        }
        if (ok) {
            matched = true;
            return netloc.substr(1, close - 1);
        }
    }
    return {};
}

// SplitResult.hostname's length, or -1 for None.
long host_name_length(std::string_view netloc) {
    size_t at = netloc.rfind('@');
    std::string_view info = at == std::string_view::npos ? netloc : netloc.substr(at + 1);
    std::string_view host;
    size_t open = info.find('[');
    if (open != std::string_view::npos) {
        host = info.substr(open + 1);
        host = host.substr(0, host.find(']'));
    } else {
        host = info.substr(0, info.find(':'));
    }
    return host.empty() ? -1 : long(host.size());
}

}  // namespace

bool is_url(std::string_view text, std::span<const std::string> schemes) {
    if (text.size() > kMaxUrlLength) return false;
    for (char c : text)
        if (c == '\t' || c == '\r' || c == '\n') return false;
    size_t separator = text.find("://");
    std::string_view scheme = text.substr(0, separator);
    bool known = false;
    for (const std::string& allowed : schemes)
        if (equals_lowered(scheme, allowed)) known = true;
    if (!known) return false;
    // The pattern needs scheme characters up to the first "://", so urlsplit takes the same
    // scheme, and the network location runs from there to the first "/", "?" or "#".
    if (!matches_url_pattern(text)) return false;
    std::string_view after = text.substr(separator + 3);
    std::string_view netloc = after.substr(0, after.find_first_of("/?#"));
    if (!splits(netloc)) return false;
    bool bracketed = false;
    std::string_view ip = bracketed_ip(netloc, bracketed);
    if (bracketed && !is_django_ipv6_address(ip)) return false;
    long host = host_name_length(netloc);
    return host >= 0 && size_t(host) <= kMaxHostName;
}

}  // namespace sorvel::text
