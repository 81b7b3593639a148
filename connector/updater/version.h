#pragma once

#include <string>
#include <vector>

namespace korvane::connector {

// Returns the numeric parts of a dotted version; a part without leading digits (or out of
// 32-bit range) reads as 0, and "3rc1" reads as 3.
std::vector<int> parse_version_parts(const std::string& version);

// Returns -1, 0 or 1 as `a` is older than, equal to or newer than `b`; missing parts count as 0.
int compare_versions(const std::string& a, const std::string& b);

}  // namespace korvane::connector
