#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace korvane::connector {

// A parsed JSON value; objects keep their members in document order.
using Json = nlohmann::ordered_json;

// Deeper nesting than this is refused before parsing: no reply of ours nests past a handful.
constexpr int kMaxJsonDepth = 128;

// Returns the value of `text` when it is exactly one JSON value (white space around it allowed)
// nested no deeper than kMaxJsonDepth; empty otherwise, and for any text holding a NUL byte.
// Never throws.
std::optional<Json> parse_json(std::string_view text);

// Returns true when `text` is exactly one JSON value nested no deeper than kMaxJsonDepth and
// holds no NUL byte.
bool is_json_value(std::string_view text);

// Returns the first non-empty string value of a member named `key`, searching `value` and
// everything nested in it in document order; empty when there is none.
std::string find_string_member(const Json& value, std::string_view key);

// Returns `text` as a quoted JSON string: escaped as json_escape does, with bytes that are not
// UTF-8 replaced by U+FFFD so the result is always valid JSON.
std::string json_string(std::string_view text);

// Builds one JSON object text member by member, in the order added. String values are
// escaped; raw values are inserted as they are (the caller vouches for them).
class JsonObject {
  public:
    JsonObject& add(std::string_view key, std::string_view text);
    JsonObject& add(std::string_view key, const char* text) { return add(key, std::string_view(text)); }
    JsonObject& add(std::string_view key, bool value);
    JsonObject& add_raw(std::string_view key, std::string_view json);
    // Returns "{...}".
    std::string str() const { return text_ + "}"; }

  private:
    void key(std::string_view name);
    std::string text_ = "{";
};

}  // namespace korvane::connector
