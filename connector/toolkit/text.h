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

// Returns `text` with tab, line feed, carriage return, double quote and backslash escaped
// for a JSON string; every other byte is copied unchanged.
std::string json_escape(std::string_view text);

// Returns the text before the first `separator`, or all of `text` when there is none.
std::string before_first(std::string_view text, std::string_view separator);

}  // namespace korvane::connector
