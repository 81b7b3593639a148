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

TEST(RelayClient, HealthIsReachableOnAnyReplyWithinTenSeconds) {
    FakeHttpClient http;
    RelayClient client("wss://relay.test/base", http);
    http.queue(HttpResult{0, "<html>404 Not Found</html>", 404});
    ServerStatus status = client.health("0xabc");
    EXPECT_TRUE(status.reachable);
    EXPECT_EQ(status.health_status, "reachable");
    EXPECT_EQ(status.message, "<html>404 Not Found</html>");
    ASSERT_EQ(http.sent.size(), 1u);
    EXPECT_EQ(http.sent[0].method, "GET");
    EXPECT_EQ(http.sent[0].url, "https://relay.test/base/api/security/config");
    EXPECT_TRUE(http.sent[0].headers.empty());
    EXPECT_EQ(http.sent[0].timeout_ms, 10000);

    http.queue(http_failure(28, "Operation timed out"));
    status = client.health("");
    EXPECT_FALSE(status.reachable);
    EXPECT_EQ(status.health_status, "unreachable");
    EXPECT_EQ(status.message, "relay health request failed");
}

TEST(RelayClient, RequestsEscapeTheirValuesAndFailWithFixedTexts) {
    FakeHttpClient http;
    const RelayClient client("ws://relay.test:8080", http);
    const std::string wallet = "0xab\"c\\", token = "tok\n\"}", label = "Ann's \"Mac\"";
    const struct {
        std::string answer;
        const char* method;
        std::string url;
        std::vector<std::string> headers;
        std::string body;
        const char* failure;
    } cases[] = {
        {client.bind_wallet(wallet, "device:macos:1", label).failure,
         "POST",
         "http://relay.test:8080/api/connector/bind",
         {"Content-Type: application/json"},
         R"({"wallet":"0xab\"c\\","connectorId":"device:macos:1","connectorLabel":"Ann's \"Mac\""})",
         "bind_request_failed"},
        {client.bind_status(wallet, "device:macos:1").failure,
         "GET",
         "http://relay.test:8080/api/connector/bind-status?connectorId=device:macos:1",
         {"x-korvane-wallet: 0xab\"c\\"},
         "",
         "bind_status_failed"},
        {client.bind_status("", "device:macos:1").failure,
         "GET",
         "http://relay.test:8080/api/connector/bind-status?connectorId=device:macos:1",
         {},
         "",
         "bind_status_failed"},
        {client.claim_token(token, "device:macos:1", label).failure,
         "POST",
         "http://relay.test:8080/api/connector/claim-token",
         {"Content-Type: application/json"},
         R"({"token":"tok\n\"}","connectorId":"device:macos:1","connectorLabel":"Ann's \"Mac\""})",
         "claim_token_failed"},
    };
    ASSERT_EQ(http.sent.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        const auto& c = cases[i];
        const HttpRequest& sent = http.sent[i];
        EXPECT_EQ(sent.method, c.method) << i;
        EXPECT_EQ(sent.url, c.url) << i;
        EXPECT_EQ(sent.headers, c.headers) << i;
        EXPECT_EQ(sent.body, c.body) << i;
        EXPECT_EQ(sent.timeout_ms, 15000) << i;
        // Nothing was scripted: every request failed to connect.
        EXPECT_EQ(c.answer, c.failure) << i;
    }
    // Any reply that arrived is handed back with its status, error statuses included.
    http.queue(HttpResult{0, "<h1>502</h1>\n", 502});
    const RelayReply reply = client.bind_wallet("0x1", "d", "l");
    EXPECT_EQ(reply.body, "<h1>502</h1>\n");
    EXPECT_TRUE(reply.delivered);
    EXPECT_FALSE(reply.succeeded());
    // Ids are percent-encoded into the query.
    client.bind_status("", "dev ice&x=1#");
    EXPECT_EQ(http.sent.back().url,
              "http://relay.test:8080/api/connector/bind-status?connectorId=dev%20ice%26x%3D1%23");
}

}  // namespace
}  // namespace korvane::connector
