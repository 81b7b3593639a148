#include "connector/exchanges/probe_output.h"

#include <cstdint>
#include <cstdio>

namespace korvane::connector {
namespace {

// Decodes one UTF-8 sequence at `at`; returns its code point and advances `at`. A malformed
// byte reads as U+FFFD and advances by one (Python's "replace" decoding gives one U+FFFD for a
// whole cut-off sequence; a stray byte reads the same either way).
uint32_t next_code_point(std::string_view text, size_t& at) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    size_t length = 0;
    uint32_t point = 0;
    if (lead < 0x80) {
        ++at;
        return lead;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        point = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        point = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        point = lead & 0x07;
    }
    bool valid = length > 0 && at + length <= text.size();
    for (size_t i = 1; valid && i < length; ++i) {
        valid = (byte(at + i) & 0xC0) == 0x80;
        point = (point << 6) | (byte(at + i) & 0x3F);
    }
    // Overlong forms, surrogates and points past U+10FFFF are not UTF-8 either.
    static constexpr uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (valid && (point < kSmallest[length] || (point >= 0xD800 && point <= 0xDFFF) || point > 0x10FFFF)) {
        valid = false;
    }
    if (!valid) {
        ++at;
        return 0xFFFD;
    }
    at += length;
    return point;
}

void append_u_escape(std::string& out, uint32_t unit) {
    char text[8];
    std::snprintf(text, sizeof text, "\\u%04x", static_cast<unsigned>(unit));
    out += text;
}

}  // namespace

std::string probe_string(std::string_view text) {
    std::string out = "\"";
    size_t at = 0;
    while (at < text.size()) {
        const uint32_t point = next_code_point(text, at);
        switch (point) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            default:
                if (point < 0x20 || point > 0x7E) {
                    if (point == 0x7F) {
                        out += static_cast<char>(point);
                    } else if (point > 0xFFFF) {
                        // Beyond the first plane: a UTF-16 surrogate pair.
                        const uint32_t rest = point - 0x10000;
                        append_u_escape(out, 0xD800 + (rest >> 10));
                        append_u_escape(out, 0xDC00 + (rest & 0x3FF));
                    } else {
                        append_u_escape(out, point);
                    }
                } else {
                    out += static_cast<char>(point);
                }
        }
    }
    return out + "\"";
}

void ProbeReport::add(std::initializer_list<std::pair<const char*, std::string>> members) {
    if (!text_.empty()) text_ += ", ";
    text_ += "{";
    bool first = true;
    for (const auto& [name, value] : members) {
        if (!first) text_ += ", ";
        first = false;
        text_ += probe_string(name) + ": " + probe_string(value);
    }
    text_ += "}";
}

std::string probe_body(const HttpResult& reply) {
    if (!reply.ok()) return reply.body;
    if (reply.body.empty() && reply.status >= 400) return "HTTP Error " + std::to_string(reply.status);
    return reply.body;
}

}  // namespace korvane::connector
