#include "connector/toolkit/text.h"

namespace korvane::connector {

bool contains(std::string_view text, std::string_view needle) {
    return text.find(needle) != std::string_view::npos;
}

bool contains_any(std::string_view text, std::initializer_list<std::string_view> needles) {
    for (std::string_view needle : needles) {
        if (contains(text, needle)) return true;
    }
    return false;
}

std::string trim(std::string_view text) {
    size_t end = text.size();
    while (end > 0) {
        const char c = text[end - 1];
        if (c != '\n' && c != '\r' && c != ' ' && c != '\t') break;
        --end;
    }
    return std::string(text.substr(0, end));
}

std::string json_escape(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '\t': escaped += "\\t"; break;
            case '\n': escaped += "\\n"; break;
            case '\r': escaped += "\\r"; break;
            case '"': escaped += "\\\""; break;
            case '\\': escaped += "\\\\"; break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    static constexpr char kHex[] = "0123456789abcdef";
                    escaped += "\\u00";
                    escaped += kHex[(c >> 4) & 0x0F];
                    escaped += kHex[c & 0x0F];
                } else {
                    escaped += c;
                }
        }
    }
    return escaped;
}

std::string printable(std::string_view text) {
    std::string shown(text);
    for (char& c : shown) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    }
    return shown;
}

std::string before_first(std::string_view text, std::string_view separator) {
    const size_t at = text.find(separator);
    return std::string(at == std::string_view::npos ? text : text.substr(0, at));
}

}  // namespace korvane::connector
