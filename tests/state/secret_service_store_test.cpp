#include "connector/state/secret_service_store.h"

#include <gtest/gtest.h>

#include <map>

#include "connector/state/secret_store_choice.h"

namespace korvane::connector {
namespace {

using Answer = SecretServiceCalls::Answer;

// A Secret Service in memory, with the ways a real one lets the store down.
struct ServiceState {
    bool running = true;
    bool failing = false;         // every item call fails (a locked keyring, a timeout)
    bool mangles = false;         // stores something other than what it was given
    bool keeps_on_clear = false;  // clear succeeds, yet the item stays (a locked copy)
    int probes = 0;
    int item_calls = 0;
    std::map<std::pair<std::string, std::string>, std::string> items;
    std::map<std::pair<std::string, std::string>, std::string> labels;
};

class FakeServiceCalls : public SecretServiceCalls {
  public:
    explicit FakeServiceCalls(ServiceState& state) : state_(state) {}
    bool service_running() override {
        ++state_.probes;
        return state_.running;
    }
    Answer store(const std::string& service, const std::string& account, const std::string& label,
                 const std::string& secret) override {
        if (!item_call()) return Answer::failed;
        state_.items[{service, account}] = state_.mangles ? secret.substr(0, secret.size() / 2) : secret;
        state_.labels[{service, account}] = label;
        return Answer::done;
    }
    Answer lookup(const std::string& service, const std::string& account, std::string& secret) override {
        if (!item_call()) return Answer::failed;
        const auto found = state_.items.find({service, account});
        if (found == state_.items.end()) return Answer::not_found;
        secret = found->second;
        return Answer::done;
    }
    Answer clear(const std::string& service, const std::string& account) override {
        if (!item_call()) return Answer::failed;
        if (!state_.keeps_on_clear) state_.items.erase({service, account});
        return Answer::done;
    }
    Answer find(const std::string& service, const std::string& account) override {
        if (!item_call()) return Answer::failed;
        return state_.items.count({service, account}) != 0 ? Answer::done : Answer::not_found;
    }

  private:
    bool item_call() {
        ++state_.item_calls;
        return !state_.failing;
    }
    ServiceState& state_;
};

class SecretServiceStoreTest : public ::testing::Test {
  protected:
    ServiceState service;
    SecretServiceStore store{std::make_unique<FakeServiceCalls>(service)};
};

TEST_F(SecretServiceStoreTest, WithoutAServiceTheStoreIsOutOfPlay) {
    service.running = false;
    EXPECT_EQ(store.backend_name(), "file_only");
    EXPECT_FALSE(store.store("korvane.connector.gate", "gate", "record"));
    EXPECT_EQ(store.fetch("korvane.connector.gate", "gate"), std::nullopt);
    // It cannot confirm a removal: the vault decides by whether the store had the latest copy.
    EXPECT_FALSE(store.remove("korvane.connector.gate", "gate"));
    EXPECT_EQ(service.item_calls, 0);
    EXPECT_EQ(service.probes, 1);  // asked once per run
}

TEST_F(SecretServiceStoreTest, SavesReadsAndRemovesItems) {
    EXPECT_EQ(store.backend_name(), "secret_service_with_file_fallback");
    ASSERT_TRUE(store.store("korvane.connector.my_ex_1", "my_ex_1", "exchange=my ex/1\napi_key=k"));
    EXPECT_EQ(service.labels.at({"korvane.connector.my_ex_1", "my_ex_1"}), "Korvane Connector: my_ex_1");
    EXPECT_EQ(store.fetch("korvane.connector.my_ex_1", "my_ex_1"), "exchange=my ex/1\napi_key=k");
    EXPECT_TRUE(store.remove("korvane.connector.my_ex_1", "my_ex_1"));
    EXPECT_TRUE(service.items.empty());
    EXPECT_EQ(store.fetch("korvane.connector.my_ex_1", "my_ex_1"), std::nullopt);
    EXPECT_EQ(service.probes, 1);
}

TEST_F(SecretServiceStoreTest, ASaveCountsOnlyWhenTheRecordReadsBackWhole) {
    service.mangles = true;
    EXPECT_FALSE(store.store("s", "a", "exchange=gate\napi_key=k"));
    EXPECT_TRUE(service.items.empty());  // the mangled copy is not left behind
    service.mangles = false;
    // The service takes C strings: a zero byte would cut the record short.
    EXPECT_FALSE(store.store("s", "a", std::string("api_key=k\0tail", 14)));
    EXPECT_TRUE(service.items.empty());
}

TEST_F(SecretServiceStoreTest, FailuresAreReportedNotHidden) {
    ASSERT_TRUE(store.store("s", "a", "record"));
    service.failing = true;
    EXPECT_FALSE(store.store("s", "a", "newer"));
    EXPECT_EQ(store.fetch("s", "a"), std::nullopt);
    EXPECT_FALSE(store.remove("s", "a"));
    service.failing = false;
    service.keeps_on_clear = true;
    EXPECT_FALSE(store.remove("s", "a"));  // still found afterwards
    EXPECT_EQ(service.items.at({"s", "a"}), "record");
}

TEST(SecretBackendChoice, ToolWhenNamedElseThePlatformsOwnStore) {
    const struct {
        bool tool_named;
        bool on_macos;
        SecretBackend backend;
    } cases[] = {
        {true, false, SecretBackend::keychain_tool},
        {true, true, SecretBackend::keychain_tool},
        {false, true, SecretBackend::macos_keychain},
        {false, false, SecretBackend::secret_service},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(choose_secret_backend(c.tool_named, c.on_macos), c.backend) << c.tool_named << c.on_macos;
    }
}

}  // namespace
}  // namespace korvane::connector
