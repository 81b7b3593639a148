// Manifest versions decide whether an update is offered: the comparison must be a total order
// (reflexive, antisymmetric, transitive), ignore trailing ".0" parts, and read every version the
// way its numeric parts are written back.
// Input: three versions, one a line.

#include <string>
#include <vector>

#include "connector/updater/version.h"
#include "tests/fuzz/fuzz_support.h"

namespace korvane::connector {
namespace {

std::string joined(const std::vector<int>& parts) {
    std::string text;
    for (size_t i = 0; i < parts.size(); ++i) text += (i > 0 ? "." : "") + std::to_string(parts[i]);
    return text;
}

void check_parts(const std::string& version) {
    const std::vector<int> parts = parse_version_parts(version);
    // One part per dot-separated piece; a trailing dot adds none.
    size_t dots = 0;
    for (char c : version) dots += c == '.' ? 1 : 0;
    const size_t pieces = version.empty() ? 0 : dots + (version.back() == '.' ? 0 : 1);
    FUZZ_CHECK(parts.size() == pieces);
    FUZZ_CHECK(parse_version_parts(joined(parts)) == parts);
    FUZZ_CHECK(compare_versions(version, joined(parts)) == 0);
    FUZZ_CHECK(compare_versions(version, version + ".0") == 0);
}

void check_order(const std::string& a, const std::string& b, const std::string& c) {
    const int ab = compare_versions(a, b), bc = compare_versions(b, c), ac = compare_versions(a, c);
    FUZZ_CHECK(ab >= -1 && ab <= 1);
    FUZZ_CHECK(compare_versions(a, a) == 0);
    FUZZ_CHECK(compare_versions(b, a) == -ab);
    if (ab <= 0 && bc <= 0) FUZZ_CHECK(ac <= 0);
    if (ab == 0 && bc == 0) FUZZ_CHECK(ac == 0);
}

}  // namespace
}  // namespace korvane::connector

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto v = korvane::connector::fuzz_pieces(korvane::connector::fuzz_text(data, size), 3);
    for (const std::string& version : v) korvane::connector::check_parts(version);
    korvane::connector::check_order(v[0], v[1], v[2]);
    return 0;
}
