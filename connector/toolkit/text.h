#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace korvane::connector {

// Returns true when `needle` occurs anywhere in `text` (case-sensitive).
bool contains(std::string_view text, std::string_view needle);

// Returns true when at least one of `needles` occurs in `text`.
bool contains_any(std::string_view text, std::initializer_list<std::string_view> needles);

// Returns `text` without trailing line feeds, carriage returns, spaces and tabs; the start stays.
std::string trim(std::string_view text);

// Returns `text` escaped for the inside of a JSON string: tab, line feed and carriage return as
// \t, \n, \r, double quote and backslash with a backslash, every other character below U+0020
// as \u00XX; all other bytes unchanged.
std::string json_escape(std::string_view text);

// Returns `text` with every control character (below U+0020, and DEL) replaced by "?", so a
// value echoed into a key=value line can never start a line of its own.
std::string printable(std::string_view text);

// Returns the text before the first `separator`, or all of `text` when there is none.
std::string before_first(std::string_view text, std::string_view separator);

}  // namespace korvane::connector
