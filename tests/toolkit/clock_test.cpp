#include "connector/toolkit/clock.h"

#include <gtest/gtest.h>

#include <regex>

#include "connector/toolkit/text.h"

namespace korvane::connector {
namespace {

TEST(Clock, MillisecondsAlwaysTakeThreeDigits) {
    // 2026-03-05T07:08:09.005Z
    EXPECT_EQ(format_iso8601_ms(1772694489005), "2026-03-05T07:08:09.005Z");
    EXPECT_EQ(format_iso8601_ms(0), "1970-01-01T00:00:00.000Z");
    EXPECT_EQ(format_iso8601_ms(1772694489999), "2026-03-05T07:08:09.999Z");
    EXPECT_EQ(format_iso8601_ms(-1), "1969-12-31T23:59:59.999Z");
    EXPECT_EQ(format_iso8601(1772694489999), "2026-03-05T07:08:09Z");
}

TEST(Clock, NowTextsHaveTheirFormats) {
    EXPECT_TRUE(std::regex_match(iso8601_now_ms(), std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)")));
    const int64_t seconds = epoch_sec();
    const int64_t millis = epoch_ms();
    EXPECT_LE(millis / 1000 - seconds, 1);
}

TEST(Text, TrimRemovesTrailingWhiteSpaceOnly) {
    EXPECT_EQ(trim("  value \r\n"), "  value");
    EXPECT_EQ(trim("\t\n \r"), "");
    EXPECT_EQ(trim("a\tb"), "a\tb");
}

TEST(Text, JsonEscapeLeavesNoControlCharacterRaw) {
    EXPECT_EQ(json_escape("a\"b\\c\td\ne\rf"), "a\\\"b\\\\c\\td\\ne\\rf");
    EXPECT_EQ(json_escape("plain"), "plain");
    EXPECT_EQ(json_escape(std::string("\x01\x1f\b\f\0x", 6)), "\\u0001\\u001f\\u0008\\u000c\\u0000x");
    EXPECT_EQ(json_escape("caf\xc3\xa9 \x7f"), "caf\xc3\xa9 \x7f");
}

TEST(Text, PrintableReplacesEveryControlCharacter) {
    EXPECT_EQ(printable("bybit\nstatus=valid_trade_ready"), "bybit?status=valid_trade_ready");
    EXPECT_EQ(printable(std::string("a\rb\tc\0d\x7f", 8)), "a?b?c?d?");
    EXPECT_EQ(printable("caf\xc3\xa9"), "caf\xc3\xa9");
}

}  // namespace
}  // namespace korvane::connector
