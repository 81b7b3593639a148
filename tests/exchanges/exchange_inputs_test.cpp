#include <gtest/gtest.h>

#include "connector/app/exchange_output.h"
#include "connector/exchanges/exchange_registry.h"
#include "connector/exchanges/exchange_table.h"
#include "connector/exchanges/input_checks.h"
#include "connector/exchanges/operation_result.h"
#include "connector/exchanges/symbols.h"
#include "tests/support/fakes.h"

namespace korvane::connector {
namespace {

TEST(SymbolMapping, FollowsEachExchangesNaming) {
    const struct {
        const char* symbol;
        const char* okx;
        const char* bingx;
        const char* kucoin;
        const char* reader;
        const char* native;
    } cases[] = {
        {"BTC_USDT", "BTC-USDT-SWAP", "BTC-USDT", "XBTUSDTM", "BTCUSDT", "BTCUSDT"},
        {"ETH_USDT", "ETH-USDT-SWAP", "ETH-USDT", "ETHUSDTM", "ETHUSDT", "ETHUSDT"},
        {"SOLUSDT", "SOLUSDT", "SOLUSDT", "SOLUSDTUSDTM", "SOLUSDTUSDT", "SOLUSDT"},
        {"btc_usdt", "btc_usdt", "btc-usdt", "btc_usdtUSDTM", "btcUSDT", "btcUSDT"},
        {"1000PEPE_USDT", "1000PEPE-USDT-SWAP", "1000PEPE-USDT", "1000PEPEUSDTM", "1000PEPEUSDT",
         "1000PEPEUSDT"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(find_exchange("okx")->native_symbol(c.symbol), c.okx) << c.symbol;
        EXPECT_EQ(find_exchange("bingx")->native_symbol(c.symbol), c.bingx) << c.symbol;
        EXPECT_EQ(find_exchange("kucoin")->native_symbol(c.symbol), c.kucoin) << c.symbol;
        EXPECT_EQ(find_exchange("bitget")->native_symbol(c.symbol), c.reader) << c.symbol;
        EXPECT_EQ(find_exchange("bybit")->native_symbol(c.symbol), c.native) << c.symbol;
        EXPECT_EQ(find_exchange("gate")->native_symbol(c.symbol), c.symbol);
    }
}

TEST(Envelope, KeepsTheBodyVerbatimAndIsAlwaysJson) {
    EXPECT_EQ(envelope("bybit", "balance", refused("http_failed")), "{\"status\":\"error\",\"reason\":\"http_failed\"}");
    EXPECT_EQ(envelope("bybit", "balance", from_reply({0, "{\"x\":1}\n", 200})),
              "{\"status\":\"ok\",\"exchange\":\"bybit\",\"kind\":\"balance\",\"body\":{\"x\":1}\n}");
    EXPECT_EQ(envelope("gate", "balance", from_reply({0, "<html>\"502\"</html>", 502})),
              "{\"status\":\"error\",\"reason\":\"invalid_response\",\"exchange\":\"gate\",\"kind\":\"balance\","
              "\"body_text\":\"<html>\\\"502\\\"</html>\"}");
    EXPECT_EQ(envelope("okx", "funding", from_reply({0, "", 200})),
              "{\"status\":\"error\",\"reason\":\"invalid_response\",\"exchange\":\"okx\",\"kind\":\"funding\","
              "\"body_text\":\"\"}");
    EXPECT_EQ(envelope("okx", "balance", from_reply(http_failure(7, "Failed to connect"))),
              "{\"status\":\"error\",\"reason\":\"http_failed\"}");
    EXPECT_EQ(envelope("okx", "balance", from_reply(http_failure(63, "reply too large: over 8 bytes"))),
              "{\"status\":\"error\",\"reason\":\"http_failed\",\"message\":\"curl: (63) reply too large: over 8 bytes\"}");
}

TEST(Envelope, JoinsRepliesInOrderAndFailsAsAWhole) {
    const HttpResult a{0, "{\"a\":1}", 200}, b{0, "[2]", 200}, html{0, "<p>", 200}, down = http_failure(28, "timeout");
    EXPECT_EQ(from_replies({{"leverage", &a}, {"place", &b}}).body, "{\"leverage\":{\"a\":1},\"place\":[2]}");
    EXPECT_EQ(from_replies({{"leverage", &a}, {"place", &down}}).reason, "http_failed");
    EXPECT_EQ(from_replies({{"leverage", &html}, {"place", &down}}).reason, "http_failed");
    const OperationResult bad = from_replies({{"order", &a}, {"trades", &html}});
    EXPECT_EQ(bad.reason, "invalid_response");
    EXPECT_EQ(bad.body_text, "<p>");
    // Only the first 4 KiB of a long non-JSON body is echoed, cut on a character boundary.
    const std::string long_text = "x" + std::string(3000, 'y') + std::string(1000, '\xc3') + "\xa9" + std::string(500, 'z');
    EXPECT_LE(from_reply({0, long_text, 200}).body_text.size(), 4096u);
}

TEST(InputChecks, RefuseWhatCouldRewriteARequest) {
    const struct {
        std::string value;
        bool symbol_ok, order_ok, decimal_ok;
    } cases[] = {
        {"BTC_USDT", true, true, false},   {"BTC-USDT", true, true, false},
        {"123", true, true, true},         {"0.01", false, true, true},
        {".5", false, true, true},         {"abc:def.1", false, true, false},
        {"", false, false, false},         {"0", true, true, false},
        {"0.000", false, true, false},     {"1.", false, true, false},
        {"-3", true, true, false},         {"1e5", true, true, false},
        {".", false, false, false},        {"..", false, false, false},
        {"-_:", false, false, false},      {"a.b", false, true, false},
        {" 1", false, false, false},       {"1\",\"reduceOnly\":false,\"x\":\"", false, false, false},
        {"BTC/USDT", false, false, false}, {"a&b=c", false, false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(check_symbol(c.value).ok(), c.symbol_ok) << c.value;
        EXPECT_EQ(check_order_id(c.value).ok(), c.order_ok) << c.value;
        EXPECT_EQ(check_quantity(c.value).ok(), c.decimal_ok) << c.value;
        EXPECT_EQ(check_price(c.value).ok(), c.decimal_ok) << c.value;
    }
    EXPECT_EQ(check_side("buy").reason, "");
    EXPECT_EQ(check_side("sell").reason, "");
    EXPECT_EQ(check_side("Buy").reason, "invalid_side");
    EXPECT_EQ(check_side("long").reason, "invalid_side");
    EXPECT_EQ(check_leverage(1).reason, "");
    EXPECT_EQ(check_leverage(0).reason, "invalid_leverage");
    EXPECT_EQ(check_leverage(-2).reason, "invalid_leverage");
    EXPECT_EQ(check_leverage(200).reason, "");
    EXPECT_EQ(check_leverage(201).reason, "invalid_leverage");
    EXPECT_EQ(first_refusal({Status::success(), check_side("x"), check_price("0")}).reason, "invalid_side");
}

TEST(InputChecks, WholeUnitsForContractCountingExchanges) {
    const struct {
        const char* quantity;
        const char* whole;
    } cases[] = {{"3", "3"}, {"007", "7"}, {"2.0", "2"}, {"10.000", "10"}, {"0.5", ""}, {"1.01", ""}, {".5", ""}};
    for (const auto& c : cases) EXPECT_EQ(whole_units(c.quantity), c.whole) << c.quantity;
}

TEST(Registry, ListsElevenExchangesAndRefusesWithoutRunningAnything) {
    FakeHttpClient http;
    const FixedClock clock(1700000000000);
    const auto entries = exchange_connections();
    ASSERT_EQ(entries.size(), 11u);
    EXPECT_EQ(entries.front().exchange, "bybit");
    EXPECT_EQ(entries.back().exchange, "reya");
    EXPECT_EQ(entries.front().note, "not configured");

    const struct {
        std::string exchange, key, secret;
        ExchangeConnectionStatus status;
        std::string reason;
    } cases[] = {
        {"Bybit", "k", "s", ExchangeConnectionStatus::invalid, "unsupported exchange"},
        {"", "k", "s", ExchangeConnectionStatus::invalid, "unsupported exchange"},
        {"asterdex", "k", "s", ExchangeConnectionStatus::invalid, "unsupported exchange"},
        {"okx", "", "s", ExchangeConnectionStatus::invalid, "missing api key or secret"},
        {"gate", "k", "", ExchangeConnectionStatus::invalid, "missing api key or secret"},
        {"reya", "k", "s", ExchangeConnectionStatus::configured,
         "adapter exists, live validation not implemented yet"},
    };
    for (const auto& c : cases) {
        const auto result = validate_credentials(http, clock, {c.exchange, {c.exchange, c.key, c.secret, ""}});
        EXPECT_EQ(result.status, c.status) << c.exchange;
        EXPECT_EQ(result.reason, c.reason) << c.exchange;
        EXPECT_FALSE(result.can_read);
        EXPECT_EQ(result.exchange, c.exchange);
        EXPECT_EQ(result.checked_at, "2023-11-14T22:13:20Z");
    }
    EXPECT_TRUE(http.sent.empty());
}

TEST(Registry, StatusWordsIncludeUnknown) {
    EXPECT_EQ(to_string(ExchangeConnectionStatus::valid_read_only), "valid_read_only");
    EXPECT_EQ(to_string(static_cast<ExchangeConnectionStatus>(42)), "unknown");
}

TEST(ExchangeTable, SixLiveExchangesThenSixKnownByName) {
    const auto& rows = exchange_table();
    ASSERT_EQ(rows.size(), 12u);
    EXPECT_EQ(live_exchange_names(","), "bybit,okx,gate,bingx,kucoin,bitget");
    EXPECT_EQ(std::string(rows.back().name), "asterdex");
    EXPECT_FALSE(rows.back().listed);
    for (const ExchangeEntry& row : rows) {
        const bool live = row.adapter != nullptr;
        EXPECT_EQ(row.capabilities.validate && row.capabilities.margin_mode_sync, live) << row.name;
        EXPECT_EQ(!row.sites.empty(), live) << row.name;
        EXPECT_EQ(row.native_symbol != nullptr, live) << row.name;
        EXPECT_EQ(find_exchange(row.name), &row);
    }
    EXPECT_EQ(find_exchange("OKX"), nullptr);
    EXPECT_EQ(find_adapter("reya"), nullptr);
}

TEST(ExchangeTable, SiteVariablesWinEvenWhenEmpty) {
    const ExchangeEntry& okx = *find_exchange("okx");
    ::setenv("KORVANE_OKX_EEA_BASE_URL", "", 1);
    ::setenv("KORVANE_OKX_US_BASE_URL", "http://127.0.0.1:9", 1);
    ::unsetenv("KORVANE_OKX_BASE_URL");
    EXPECT_EQ(site_url(okx.sites, "eea"), "");
    EXPECT_EQ(site_url(okx.sites, "us"), "http://127.0.0.1:9");
    EXPECT_EQ(site_url(okx.sites, "mars"), "https://www.okx.com");
    EXPECT_EQ(site_url(okx.sites), "https://www.okx.com");
}

}  // namespace
}  // namespace korvane::connector
