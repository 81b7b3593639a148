#include "connector/updater/version.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>

namespace korvane::connector {
namespace {

int piece_value(const std::string& piece) {
    if (piece.empty()) return 0;
    errno = 0;
    char* end = nullptr;
    const long value = std::strtol(piece.c_str(), &end, 10);
    if (end == piece.c_str() || errno == ERANGE || value < INT_MIN || value > INT_MAX) return 0;
    return static_cast<int>(value);
}

}  // namespace

std::vector<int> parse_version_parts(const std::string& version) {
    std::vector<int> parts;
    size_t start = 0;
    while (start < version.size()) {
        size_t dot = version.find('.', start);
        if (dot == std::string::npos) dot = version.size();
        parts.push_back(piece_value(version.substr(start, dot - start)));
        start = dot + 1;
    }
    return parts;
}

int compare_versions(const std::string& a, const std::string& b) {
    const std::vector<int> left = parse_version_parts(a);
    const std::vector<int> right = parse_version_parts(b);
    for (size_t i = 0; i < std::max(left.size(), right.size()); ++i) {
        const int x = i < left.size() ? left[i] : 0;
        const int y = i < right.size() ? right[i] : 0;
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

}  // namespace korvane::connector
