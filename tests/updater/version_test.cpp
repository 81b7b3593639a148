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

}  // namespace
}  // namespace korvane::connector
