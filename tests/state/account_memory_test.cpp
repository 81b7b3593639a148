#include "connector/state/account_memory.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "connector/state/files.h"
#include "tests/support/temporary_folder.h"

namespace korvane::connector {
namespace {

AccountMemory learned() {
    AccountMemory memory;
    memory.site = "eea";
    memory.key_version = "3";
    memory.position_mode = "hedge";
    memory.clock_offset_ms = -45000;
    memory.clock_measured_at_ms = 1700000000123;
    return memory;
}

TEST(AccountMemoryStore, BelongsToTheKeyItWasLearnedWith) {
    TemporaryFolder dir;
    const AccountMemoryStore store(dir.path());
    EXPECT_EQ(store.load("okx", "key-1"), AccountMemory{});
    ASSERT_TRUE(store.save("okx", "key-1", learned()).ok());
    EXPECT_EQ(store.load("okx", "key-1"), learned());
    // A replaced credential starts over; the other exchanges never see it.
    EXPECT_EQ(store.load("okx", "key-2"), AccountMemory{});
    EXPECT_EQ(store.load("kucoin", "key-1"), AccountMemory{});

    // Private, named after the exchange, without the key itself and without temporary files.
    const std::string text = read_file(store.path("okx"));
    EXPECT_EQ(store.path("okx"), dir.path("okx.memory"));
    EXPECT_EQ(text.find("key-1"), std::string::npos);
    struct stat info {};
    ASSERT_EQ(::stat(store.path("okx").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);

    EXPECT_TRUE(store.forget("okx"));
    EXPECT_TRUE(store.forget("okx"));
    EXPECT_EQ(store.load("okx", "key-1"), AccountMemory{});
}

TEST(AccountMemoryStore, IgnoresWhatItDoesNotUnderstand) {
    TemporaryFolder dir;
    const AccountMemoryStore store(dir.path());
    ASSERT_TRUE(store.save("bybit", "key-1", AccountMemory{}).ok());
    const std::string saved = read_file(store.path("bybit"));
    const std::string digest_line = saved.substr(0, saved.find('\n') + 1);
    ASSERT_EQ(digest_line.rfind("key_digest=", 0), 0u);
    append_file(store.path("bybit"),
                "garbage without equals\n=orphan\nposition_mode=hedge\nclock_offset_ms=abc\n"
                "clock_measured_at_ms=\nfuture_field=1\n\xff\xfe\n",
                0600);
    AccountMemory expected;
    expected.position_mode = "hedge";
    EXPECT_EQ(store.load("bybit", "key-1"), expected);
    // Garbage where the digest belongs: none of it applies.
    write_file_atomic(store.path("bybit"), "key_digest=\nposition_mode=hedge\n", 0600);
    EXPECT_EQ(store.load("bybit", "key-1"), AccountMemory{});
}

}  // namespace
}  // namespace korvane::connector
