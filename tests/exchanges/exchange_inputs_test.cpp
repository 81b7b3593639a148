#include <gtest/gtest.h>

#include "connector/exchanges/capability_matrix.h"
#include "connector/exchanges/exchange_registry.h"
#include "connector/exchanges/input_checks.h"
#include "connector/exchanges/request_signing.h"

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
        EXPECT_EQ(okx_inst_id(c.symbol), c.okx) << c.symbol;
        EXPECT_EQ(bingx_symbol(c.symbol), c.bingx) << c.symbol;
        EXPECT_EQ(kucoin_symbol(c.symbol), c.kucoin) << c.symbol;
        EXPECT_EQ(reader_linear_symbol(c.symbol), c.reader) << c.symbol;
        EXPECT_EQ(bybit_native(c.symbol), c.native) << c.symbol;
    }
}

TEST(Envelope, IsBuiltWithoutEscapingAndKeepsTheBodyVerbatim) {
    EXPECT_EQ(fail_json("http_failed"), "{\"status\":\"error\",\"reason\":\"http_failed\"}");
    EXPECT_EQ(ok_json("bybit", "balance", "{\"x\":1}\n"),
              "{\"status\":\"ok\",\"exchange\":\"bybit\",\"kind\":\"balance\",\"body\":{\"x\":1}\n}");
    EXPECT_EQ(make_headers({}), "");
    EXPECT_EQ(make_headers({"A: b", "C: it's"}), "-H 'A: b' -H 'C: it'\\''s' ");
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
        {" 1", false, false, false},       {"1\",\"reduceOnly\":false,\"x\":\"", false, false, false},
        {"BTC/USDT", false, false, false}, {"a&b=c", false, false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(check_symbol(c.value).empty(), c.symbol_ok) << c.value;
        EXPECT_EQ(check_order_id(c.value).empty(), c.order_ok) << c.value;
        EXPECT_EQ(check_quantity(c.value).empty(), c.decimal_ok) << c.value;
        EXPECT_EQ(check_price(c.value).empty(), c.decimal_ok) << c.value;
    }
    EXPECT_EQ(check_side("buy"), "");
    EXPECT_EQ(check_side("sell"), "");
    EXPECT_EQ(check_side("Buy"), "invalid_side");
    EXPECT_EQ(check_side("long"), "invalid_side");
    EXPECT_EQ(check_leverage(1), "");
    EXPECT_EQ(check_leverage(0), "invalid_leverage");
    EXPECT_EQ(check_leverage(-2), "invalid_leverage");
    EXPECT_EQ(first_refusal({"", "invalid_side", "invalid_price"}), "invalid_side");
}

TEST(Registry, ListsElevenExchangesAndRefusesWithoutRunningAnything) {
    const ExchangeRegistry registry;
    const auto entries = registry.bootstrap();
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
        const auto result = registry.validate({c.exchange, {c.exchange, c.key, c.secret, ""}});
        EXPECT_EQ(result.status, c.status) << c.exchange;
        EXPECT_EQ(result.reason, c.reason) << c.exchange;
        EXPECT_FALSE(result.can_read);
        EXPECT_EQ(result.exchange, c.exchange);
    }
}

TEST(Registry, StatusWordsIncludeUnknown) {
    EXPECT_EQ(to_string(ExchangeConnectionStatus::valid_read_only), "valid_read_only");
    EXPECT_EQ(to_string(static_cast<ExchangeConnectionStatus>(42)), "unknown");
}

TEST(CapabilityBaseline, SixLiveExchangesThenSixWithout) {
    const auto rows = talvio_capability_baseline();
    ASSERT_EQ(rows.size(), 12u);
    EXPECT_EQ(rows.front().exchange, "bybit");
    EXPECT_EQ(rows.back().exchange, "asterdex");
    EXPECT_TRUE(rows[5].margin_mode_sync && rows[5].validate);
    EXPECT_FALSE(rows[6].validate || rows[6].margin_mode_sync);
}

}  // namespace
}  // namespace korvane::connector
