#include "connector/state/record_text.h"

#include <gtest/gtest.h>

#include <set>

#include "connector/state/files.h"
#include "connector/state/key_vault.h"
#include "connector/state/random_hex.h"

namespace korvane::connector {
namespace {

TEST(RecordText, ParsesKeyValueLines) {
    const auto entries = parse_record_text(
        std::string("a=1\nno equals sign\nb=x=y=z\nc=\r\n=empty key\nd=\ne=x\ry\nf=\0\ng=2\r\r\n", 61));
    const std::vector<RecordEntry> expected = {
        {"a", "1"}, {"b", "x=y=z"}, {"c", ""}, {"", "empty key"}, {"d", ""}};
    EXPECT_EQ(entries, expected);
}

TEST(RecordText, FormatsInOrderWithLineEnds) {
    EXPECT_EQ(format_record_text({{"k", "v"}, {"paired", "0"}}), "k=v\npaired=0\n");
    EXPECT_EQ(parse_record_text(format_record_text({{"x", "a=b"}}).value()),
              (std::vector<RecordEntry>{{"x", "a=b"}}));
}

TEST(RecordText, RefusesLineEndsAndNulInKeysAndValues) {
    for (const std::string& bad : {std::string("a\nb"), std::string("a\rb"), std::string("a\0b", 3)}) {
        EXPECT_FALSE(format_record_text({{"k", "v"}, {"k2", bad}}).has_value());
        EXPECT_FALSE(format_record_text({{bad, "v"}}).has_value());
    }
    EXPECT_FALSE(credential_record_text({"bybit", "key\nexchange=evil", "s", ""}, true).has_value());
}

TEST(CredentialNames, SanitizeSlashesBackslashesAndSpaces) {
    EXPECT_EQ(sanitized_exchange_name("my ex/1"), "my_ex_1");
    EXPECT_EQ(sanitized_exchange_name("a\\b"), "a_b");
    EXPECT_EQ(sanitized_exchange_name("Bybit"), "Bybit");
}

TEST(CredentialNames, RecordTextHasFourLines) {
    const StoredCredential credential{"my ex/1", "k", "s=1", ""};
    EXPECT_EQ(credential_record_text(credential, false),
              "exchange=my ex/1\napi_key=k\napi_secret=s=1\npassphrase=");
    EXPECT_EQ(credential_record_text(credential, true),
              "exchange=my ex/1\napi_key=k\napi_secret=s=1\npassphrase=\n");
}

TEST(RandomHex, DrawsLowercaseHexDigits) {
    std::set<std::string> seen;
    for (int i = 0; i < 200; ++i) {
        const std::string value = random_hex(12);
        ASSERT_EQ(value.size(), 12u);
        EXPECT_EQ(value.find_first_not_of("0123456789abcdef"), std::string::npos);
        seen.insert(value);
    }
    // Two hundred 48-bit draws colliding would mean a broken seed.
    EXPECT_EQ(seen.size(), 200u);
    EXPECT_EQ(random_hex(0), "");
}

}  // namespace
}  // namespace korvane::connector
