#include "connector/state/key_vault.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "connector/state/account_memory.h"
#include "connector/state/files.h"
#include "tests/support/fakes.h"
#include "tests/support/temp_dir.h"

namespace korvane::connector {
namespace {

mode_t mode_of(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 0777 : 0;
}

class KeyVaultTest : public ::testing::Test {
  protected:
    TempDir dir;
    MemorySecretStore secrets;
    KeyVault vault{dir / "vault", secrets};
    const StoredCredential okx{"okx", "key-1", "secret=1", "pass-1"};
};

TEST_F(KeyVaultTest, KeepsCredentialsInTheStoreAndListsEachOnce) {
    EXPECT_EQ(mode_of(dir / "vault"), 0700u);
    ASSERT_TRUE(vault.save(okx));
    ASSERT_TRUE(vault.save(okx));
    EXPECT_EQ(secrets.items.at({"korvane.connector.okx", "okx"}),
              "exchange=okx\napi_key=key-1\napi_secret=secret=1\npassphrase=pass-1");
    EXPECT_EQ(read_file(dir / "vault/vault_index.txt"), "okx\n");
    EXPECT_EQ(mode_of(dir / "vault/vault_index.txt"), 0600u);
    EXPECT_FALSE(std::filesystem::exists(dir / "vault/okx.vault"));
    const auto loaded = vault.load("okx");
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->api_secret, "secret=1");
    EXPECT_EQ(loaded->passphrase, "pass-1");
    EXPECT_EQ(vault.list_exchanges(), std::vector<std::string>{"okx"});
    EXPECT_FALSE(vault.load("gate"));
}

TEST_F(KeyVaultTest, FallsBackToAPrivateFileWhenTheStoreIsUnreachable) {
    secrets.reachable = false;
    ASSERT_TRUE(vault.save(okx));
    EXPECT_EQ(read_file(dir / "vault/okx.vault"),
              "exchange=okx\napi_key=key-1\napi_secret=secret=1\npassphrase=pass-1\n");
    EXPECT_EQ(mode_of(dir / "vault/okx.vault"), 0600u);
    EXPECT_FALSE(std::filesystem::exists(dir / "vault/vault_index.txt"));
    ASSERT_TRUE(vault.load("okx"));
    EXPECT_EQ(vault.load("okx")->api_key, "key-1");

    // Both stores are listed; the store's copy wins a load.
    secrets.reachable = true;
    ASSERT_TRUE(vault.save({"gate", "gate-key", "s", ""}));
    ASSERT_TRUE(vault.save({"okx", "newer-key", "s", ""}));
    EXPECT_EQ(vault.list_exchanges(), (std::vector<std::string>{"gate", "okx"}));
    EXPECT_EQ(vault.load("okx")->api_key, "newer-key");
}

TEST_F(KeyVaultTest, RemoveLeavesNothingBehindUnlessTheStoreKeepsIt) {
    ASSERT_TRUE(vault.save(okx));
    write_file_atomic(dir / "vault/okx.vault", credential_record_text(okx, true), 0600);
    ASSERT_TRUE(
        AccountMemoryStore(dir / "vault").save("okx", "key-1", AccountMemory{"eea", "", "", 0, 0}).ok());

    // A store that cannot delete (a locked keychain): the name stays listed and the answer says so.
    secrets.removable = false;
    EXPECT_FALSE(vault.remove("okx"));
    EXPECT_EQ(vault.list_exchanges(), std::vector<std::string>{"okx"});
    EXPECT_TRUE(vault.load("okx"));

    secrets.removable = true;
    EXPECT_TRUE(vault.remove("okx"));
    EXPECT_FALSE(vault.load("okx"));
    EXPECT_TRUE(vault.list_exchanges().empty());
    EXPECT_EQ(read_file(dir / "vault/vault_index.txt"), "");
    EXPECT_FALSE(std::filesystem::exists(dir / "vault/okx.vault"));
    EXPECT_FALSE(std::filesystem::exists(dir / "vault/okx.memory"));
}

}  // namespace
}  // namespace korvane::connector
