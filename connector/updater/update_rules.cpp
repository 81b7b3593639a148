#include "connector/updater/update_rules.h"

namespace korvane::connector {
namespace {

bool starts_with(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// 127.0.0.0/8 written as four plain decimal numbers.
bool is_loopback_ipv4(std::string_view host) {
    if (!starts_with(host, "127.")) return false;
    int parts = 0;
    size_t start = 0;
    while (start <= host.size()) {
        size_t dot = host.find('.', start);
        if (dot == std::string_view::npos) dot = host.size();
        const std::string_view part = host.substr(start, dot - start);
        if (part.empty() || part.size() > 3) return false;
        // libcurl reads a leading zero as octal, and a part that is no octal number ("058") makes
        // the whole host a name for a name server to answer: only plain decimal is this machine.
        if (part.size() > 1 && part[0] == '0') return false;
        int value = 0;
        for (char c : part) {
            if (!is_digit(c)) return false;
            value = value * 10 + (c - '0');
        }
        if (value > 255) return false;
        ++parts;
        start = dot + 1;
    }
    return parts == 4;
}

// Returns the host of an authority "host[:port]"; empty when it is malformed.
std::string_view host_of(std::string_view authority) {
    if (starts_with(authority, "[")) {
        const size_t close = authority.find(']');
        return close == std::string_view::npos ? std::string_view() : authority.substr(0, close + 1);
    }
    const size_t colon = authority.find(':');
    if (colon != std::string_view::npos) {
        const std::string_view port = authority.substr(colon + 1);
        if (port.empty()) return {};
        for (char c : port) {
            if (!is_digit(c)) return {};
        }
    }
    return authority.substr(0, colon);
}

}  // namespace

bool is_allowed_image_url(std::string_view url) {
    for (char c : url) {
        if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F || c == '\\') return false;
    }
    const bool https = starts_with(url, "https://");
    if (!https && !starts_with(url, "http://")) return false;
    const std::string_view rest = url.substr(https ? 8 : 7);
    const std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
    // "http://127.0.0.1@elsewhere/" names the host after the "@"; user info is never needed.
    if (authority.find('@') != std::string_view::npos) return false;
    const std::string_view host = host_of(authority);
    if (host.empty()) return false;
    if (https) return true;
    return is_loopback_ipv4(host) || host == "localhost" || host == "[::1]";
}

bool is_safe_version(std::string_view version) {
    if (version.empty() || version.size() > 64) return false;
    for (char c : version) {
        const bool allowed = is_digit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '.' ||
                             c == '+' || c == '_' || c == '-';
        if (!allowed) return false;
    }
    return true;
}

}  // namespace korvane::connector
