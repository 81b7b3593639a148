#include "connector/updater/version.h"

#include <gtest/gtest.h>

namespace korvane::connector {
namespace {

TEST(Versions, CompareNumericallyPartByPart) {
    const struct {
        const char* a;
        const char* b;
        int expected;
    } cases[] = {
        {"1.0", "1.0.0", 0},  {"0.1.0", "0.1.1", -1},       {"0.2", "0.10", -1}, {"v0.2.0", "0.1.0", 1},
        {"0.3rc1", "0.3", 0}, {"1.2.3", "1.2", 1},          {"", "0", 0},        {"0.1.0", "0.1.0.", 0},
        {"2", "10", -1},      {"99999999999.0", "0.1", -1}, {" 1.0", "1.0", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(compare_versions(c.a, c.b), c.expected) << c.a << " vs " << c.b;
    EXPECT_EQ(parse_version_parts("1..2."), (std::vector<int>{1, 0, 2}));
    EXPECT_EQ(parse_version_parts(""), std::vector<int>{});
}

TEST(ManifestMembers, FirstStringValueAnywhere) {
    const std::string manifest = R"({"meta":{"version":"9.9"},"version" : "1.2.3","dmgUrl":"","x":"a\"b"})";
    EXPECT_EQ(extract_json_string(manifest, "version"), "9.9");
    EXPECT_EQ(extract_json_string(manifest, "dmgUrl"), "");
    EXPECT_EQ(extract_json_string(manifest, "channel"), "");
    EXPECT_EQ(extract_json_string(manifest, "x"), "a\\");
    EXPECT_EQ(extract_json_string(R"({"version":"1.0", "sha256" :"ab"})", "sha256"), "ab");
}

}  // namespace
}  // namespace korvane::connector
