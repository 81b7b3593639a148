#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace korvane::connector {

// One "key=value" line of a state or credential file.
using RecordEntry = std::pair<std::string, std::string>;

// Returns the entries of `text`: lines split at "\n", one trailing "\r" of a line dropped, lines
// without "=" or still holding a CR or NUL skipped, the key before the first "=" and the value
// after it, nothing else trimmed.
std::vector<RecordEntry> parse_record_text(std::string_view text);

// Returns the entries as "key=value\n" lines, in order; nullopt when a key or value holds a
// carriage return, line feed or NUL, which would end or cut its line and let the value write
// lines of its own.
std::optional<std::string> format_record_text(const std::vector<RecordEntry>& entries);

// Returns true when `text` may stand in a record: no carriage return, line feed or NUL.
bool fits_record_line(std::string_view text);

}  // namespace korvane::connector
