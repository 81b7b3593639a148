#include "connector/toolkit/json.h"

#include <vector>

#include "connector/toolkit/text.h"

namespace korvane::connector {
namespace {

// Counts bracket nesting outside strings; a text that nests too deep is refused before the
// parser builds anything from it.
bool nesting_within(std::string_view text, int limit) {
    int depth = 0;
    bool in_string = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (in_string) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                in_string = false;
            }
        } else if (c == '"') {
            in_string = true;
        } else if (c == '[' || c == '{') {
            if (++depth > limit) return false;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return true;
}

// A NUL byte is never part of a JSON text, and a reader that stops at it would take what
// follows for something else; too deep a nesting is refused before anything is built.
bool acceptable(std::string_view text) {
    return text.find('\0') == std::string_view::npos && nesting_within(text, kMaxJsonDepth);
}

// Length of the UTF-8 sequence starting at `at`, or 0 when it is not well formed.
size_t utf8_sequence(std::string_view text, size_t at) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    size_t length = 0;
    unsigned min_second = 0x80, max_second = 0xBF;
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) min_second = 0xA0;
        if (lead == 0xED) max_second = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) min_second = 0x90;
        if (lead == 0xF4) max_second = 0x8F;
    } else {
        return 0;
    }
    if (at + length > text.size()) return 0;
    if (byte(at + 1) < min_second || byte(at + 1) > max_second) return 0;
    for (size_t i = 2; i < length; ++i) {
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
    }
    return length;
}

// Depth-first search in document order; the nesting was bounded when the value was parsed.
const Json* find_member(const Json& value, std::string_view key) {
    if (value.is_object()) {
        for (const auto& [name, member] : value.items()) {
            if (name == key && member.is_string() && !member.get_ref<const std::string&>().empty()) {
                return &member;
            }
            if (const Json* nested = find_member(member, key)) return nested;
        }
    } else if (value.is_array()) {
        for (const Json& element : value) {
            if (const Json* nested = find_member(element, key)) return nested;
        }
    }
    return nullptr;
}

}  // namespace

std::optional<Json> parse_json(std::string_view text) {
    if (!acceptable(text)) return std::nullopt;
    Json value = Json::parse(text.begin(), text.end(), nullptr, false);
    if (value.is_discarded()) return std::nullopt;
    return value;
}

bool is_json_value(std::string_view text) {
    return acceptable(text) && Json::accept(text.begin(), text.end());
}

std::string find_string_member(const Json& value, std::string_view key) {
    const Json* member = find_member(value, key);
    return member != nullptr ? member->get<std::string>() : "";
}

std::string json_string(std::string_view text) {
    std::string valid;
    valid.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const size_t length = utf8_sequence(text, i);
        if (length == 0) {
            valid += "\xEF\xBF\xBD";
            ++i;
        } else {
            valid.append(text.substr(i, length));
            i += length;
        }
    }
    return "\"" + json_escape(valid) + "\"";
}

void JsonObject::key(std::string_view name) {
    if (text_.size() > 1) text_ += ",";
    text_ += json_string(name);
    text_ += ":";
}

JsonObject& JsonObject::add(std::string_view name, std::string_view text) {
    key(name);
    text_ += json_string(text);
    return *this;
}

JsonObject& JsonObject::add(std::string_view name, bool value) {
    key(name);
    text_ += value ? "true" : "false";
    return *this;
}

JsonObject& JsonObject::add_raw(std::string_view name, std::string_view json) {
    key(name);
    text_.append(json);
    return *this;
}

}  // namespace korvane::connector
