#include "connector/state/key_vault.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/support/fakes.h"
#include "tests/support/temporary_folder.h"

namespace korvane::connector {
namespace {

const StoredCredential kOld{"gate", "old-key", "old-secret", ""};
const StoredCredential kNew{"gate", "new-key", "new-secret", ""};
const std::pair<std::string, std::string> kGateItem{"korvane.connector.gate", "gate"};

class KeyVaultTest : public ::testing::Test {
  protected:
    TemporaryFolder root;
    MemorySecretStore store;
    KeyVault vault{root.path("vault"), store};

    std::string loaded_key(const std::string& exchange = "gate") {
        const auto credential = vault.load(exchange);
        return credential ? credential->api_key : "(none)";
    }
};

TEST_F(KeyVaultTest, StoreSaveReplacesAnOlderFileCopy) {
    store.reachable = false;
    ASSERT_TRUE(vault.save(kOld));
    ASSERT_TRUE(root.exists("vault/gate.vault"));
    store.reachable = true;
    ASSERT_TRUE(vault.save(kNew));
    // A plain-text copy left behind would be read the next time the store is down.
    EXPECT_FALSE(root.exists("vault/gate.vault"));
    EXPECT_EQ(root.read("vault/vault_index.txt"), "gate\n");
    store.reachable = false;
    EXPECT_EQ(loaded_key(), "(none)");
}

TEST_F(KeyVaultTest, AStoreSaveThatCannotBeListedKeepsAFileCopyThatIs) {
    // An index that cannot be written (here a folder in its place) would hide the stored item.
    ASSERT_EQ(mkdir(root.path("vault/vault_index.txt").c_str(), 0700), 0);
    ASSERT_TRUE(vault.save(kNew));
    EXPECT_TRUE(root.exists("vault/gate.vault"));
    EXPECT_EQ(vault.list_exchanges(), std::vector<std::string>{"gate"});
    EXPECT_EQ(loaded_key(), "new-key");
}

TEST_F(KeyVaultTest, FileSavedWhileTheStoreIsDownWinsOverTheStoresOlderCopy) {
    ASSERT_TRUE(vault.save(kOld));
    store.reachable = false;
    ASSERT_TRUE(vault.save(kNew));
    EXPECT_EQ(root.read("vault/gate.vault"),
              "exchange=gate\napi_key=new-key\napi_secret=new-secret\npassphrase=\n");
    struct stat info {};
    ASSERT_EQ(stat(root.path("vault/gate.vault").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(root.read("vault/vault_index.txt"), "");
    EXPECT_EQ(vault.list_exchanges(), std::vector<std::string>{"gate"});

    // The store comes back still holding the old copy: the newer file is what loads.
    store.reachable = true;
    EXPECT_EQ(loaded_key(), "new-key");
    EXPECT_TRUE(vault.remove("gate"));
    EXPECT_TRUE(store.items.empty());
    EXPECT_EQ(loaded_key(), "(none)");
}

TEST_F(KeyVaultTest, WhereEachCopyIsLoadedFrom) {
    const struct {
        const char* name;
        bool in_store;
        bool in_file;
        bool listed;
        std::string key;  // the key loaded
        int fetches;      // how often the store was asked
    } cases[] = {
        {"file only: the store is not asked", false, true, false, "file-key", 0},
        {"store only, listed", true, false, true, "store-key", 1},
        {"store only, not listed (put there without the index)", true, false, false, "store-key", 1},
        {"both, listed (an older build kept the file)", true, true, true, "store-key", 1},
        {"both, not listed (the file was saved last)", true, true, false, "file-key", 0},
        {"listed but the store lost it", false, true, true, "file-key", 1},
        {"nowhere", false, false, false, "(none)", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TemporaryFolder folder;
        MemorySecretStore secrets;
        const KeyVault cases_vault(folder.path("vault"), secrets);
        if (c.in_store) secrets.items[kGateItem] = "exchange=gate\napi_key=store-key";
        if (c.in_file) folder.write("vault/gate.vault", "exchange=gate\napi_key=file-key\n");
        if (c.listed) folder.write("vault/vault_index.txt", "okx\ngate\n");
        const auto credential = cases_vault.load("gate");
        EXPECT_EQ(credential ? credential->api_key : "(none)", c.key);
        EXPECT_EQ(secrets.fetches, c.fetches);
    }
}

TEST_F(KeyVaultTest, RemovalTheStoreRefusesKeepsTheNameListed) {
    ASSERT_TRUE(vault.save(kOld));
    root.write("vault/gate.vault", "exchange=gate\napi_key=file\n");
    store.reachable = false;
    EXPECT_FALSE(vault.remove("gate"));
    EXPECT_FALSE(root.exists("vault/gate.vault"));
    EXPECT_EQ(root.read("vault/vault_index.txt"), "gate\n");
    store.reachable = true;
    EXPECT_EQ(loaded_key(), "old-key");
}

TEST_F(KeyVaultTest, FileKeptCredentialIsRemovedWhileTheStoreIsDown) {
    store.reachable = false;
    ASSERT_TRUE(vault.save(kNew));
    EXPECT_TRUE(vault.remove("gate"));
    EXPECT_FALSE(root.exists("vault/gate.vault"));
    EXPECT_TRUE(vault.list_exchanges().empty());
}

TEST_F(KeyVaultTest, SaveThatNeitherStoreTakesFails) {
    store.reachable = false;
    root.write("vault/gate.vault/blocker", "");  // a folder where the file should go
    EXPECT_FALSE(vault.save(kNew));
    EXPECT_EQ(root.read("vault/vault_index.txt"), "");
}

}  // namespace
}  // namespace korvane::connector
