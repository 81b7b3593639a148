#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace korvane::connector {

// One "key=value" line of a state or credential file.
using RecordEntry = std::pair<std::string, std::string>;

// Returns the entries of `text`: lines split at "\n", lines without "=" skipped, the key before
// the first "=" and the value after it, nothing trimmed.
std::vector<RecordEntry> parse_record_text(std::string_view text);

// Returns the entries as "key=value\n" lines, in order.
std::string format_record_text(const std::vector<RecordEntry>& entries);

}  // namespace korvane::connector
