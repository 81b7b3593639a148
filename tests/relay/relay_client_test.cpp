#include "connector/relay/relay_client.h"

#include <gtest/gtest.h>

#include "tests/support/fakes.h"

namespace korvane::connector {
namespace {

TEST(RelayApiRoot, MapsWebSocketSchemesAndKeepsEverythingElse) {
    const struct {
        const char* url;
        const char* root;
    } cases[] = {
        {"ws://relay.local:8080", "http://relay.local:8080"},
        {"wss://relay.example/base", "https://relay.example/base"},
        {"http://127.0.0.1:9", "http://127.0.0.1:9"},
        {"https://app.example/", "https://app.example/"},
        {"", ""},
        {"WSS://upper", "WSS://upper"},
    };
    for (const auto& c : cases) EXPECT_EQ(relay_api_root(c.url), c.root) << c.url;
}

TEST(RelayClient, EmptyUrlIsDisconnectedWithoutRunningAnything) {
    FakeHttpClient http;
    RelayClient client("", http);
    EXPECT_FALSE(client.connect());
    const ServerStatus status = client.health("0xabc");
    EXPECT_FALSE(status.reachable);
    EXPECT_EQ(status.health_status, "disconnected");
    EXPECT_EQ(status.message, "relay url missing");
    EXPECT_EQ(status.wallet_address, "0xabc");
    EXPECT_TRUE(http.sent.empty());
    RelayClient configured("https://unreachable.invalid", http);
    EXPECT_TRUE(configured.connect());
}

}  // namespace
}  // namespace korvane::connector
