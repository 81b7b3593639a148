// Exchange replies as the commands print them: envelopes, composites, refusals and what a run
// remembers, through the exchange operations over a vault in a temporary folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "connector/exchanges/exchange_operations.h"
#include "connector/toolkit/json.h"
#include "tests/exchanges/adapter_support.h"
#include "tests/support/temporary_folder.h"

namespace korvane::connector {
namespace {

const char* const kLive[] = {"bybit", "okx", "gate", "bingx", "kucoin", "bitget"};

// The exchange commands as the command line runs them: operation, then envelope.
struct Commands {
    ExchangeContext context;

    std::string run(const ExchangeOperation& operation, const OperationRequest& request) const {
        return envelope(request.exchange, operation.kind, run_exchange_operation(context, operation, request));
    }
    std::string get_balance(const std::string& exchange) const { return run(kBalance, {.exchange = exchange}); }
    std::string get_position(const std::string& exchange, const std::string& symbol) const {
        return run(kPosition, {.exchange = exchange, .symbol = symbol});
    }
    std::string get_order_status(const std::string& exchange, const std::string& symbol, const std::string& id) const {
        return run(kOrderStatus, {.exchange = exchange, .symbol = symbol, .order_id = id});
    }
    std::string cancel_order(const std::string& exchange, const std::string& symbol, const std::string& id) const {
        return run(kCancelOrder, {.exchange = exchange, .symbol = symbol, .order_id = id});
    }
    std::string get_funding(const std::string& exchange, const std::string& symbol, int lookback) const {
        return run(kFunding, {.exchange = exchange, .symbol = symbol, .lookback_minutes = lookback});
    }
    std::string get_close_report(const std::string& exchange, const std::string& symbol, const std::string& id) const {
        return run(kCloseReport, {.exchange = exchange, .symbol = symbol, .order_id = id});
    }
    std::string place_open(const std::string& exchange, const std::string& symbol, const std::string& side,
                           const std::string& quantity, const std::string& price, int leverage) const {
        return run(kPlaceOpen, {.exchange = exchange,
                                  .symbol = symbol,
                                  .side = side,
                                  .quantity = quantity,
                                  .price = price,
                                  .leverage = leverage});
    }
    std::string place_close(const std::string& exchange, const std::string& symbol, const std::string& side,
                            const std::string& quantity, const std::string& price) const {
        return run(kPlaceClose,
                   {.exchange = exchange, .symbol = symbol, .side = side, .quantity = quantity, .price = price});
    }
};

class Envelopes : public ::testing::Test {
  protected:
    Envelopes() {
        use_test_sites();
        for (const char* exchange : kLive) vault.save(test_credential(exchange));
        vault.save(test_credential("paradex"));
    }

    // Remembers `mode` for `exchange`, so its orders go out without a learning request.
    void remember_mode(const std::string& exchange, const std::string& mode) {
        ASSERT_TRUE(memory.save(exchange, "key-1", known(mode)).ok());
    }

    TemporaryFolder dir;
    MemorySecretStore secrets;
    KeyVault vault{dir.path("vault"), secrets};
    AccountMemoryStore memory{dir.path("vault")};
    FakeHttpClient http;
    FixedClock clock{kNowMs};
    std::vector<std::string> problems;
    Commands reader{ExchangeContext{vault, memory, http, clock, problems}};
    const Commands& executor = reader;
};

std::string ok_envelope(const std::string& exchange, const std::string& kind, const std::string& body) {
    return R"({"status":"ok","exchange":")" + exchange + R"(","kind":")" + kind + R"(","body":)" + body + "}";
}

// Returns `printed` without its "client_order_id" member, which holds a fresh random part.
std::string without_client_order_id(std::string printed) {
    const std::string marker = R"("client_order_id":")";
    const size_t at = printed.find(marker);
    if (at == std::string::npos) return printed;
    const size_t end = printed.find('"', at + marker.size());
    return printed.erase(at, end + 2 - at);
}

std::string error_envelope(const std::string& reason) {
    return R"({"status":"error","reason":")" + reason + R"("})";
}

TEST_F(Envelopes, OneReplyBecomesOneEnvelope) {
    const struct {
        const char* what;
        HttpResult reply;
        std::string printed;  // "%" stands for the exchange's name
    } cases[] = {
        {"ok, line end kept",
         {0, "{\"data\":[1]}\n", 200},
         R"({"status":"ok","exchange":"%","kind":"balance","body":{"data":[1]})"
         "\n}"},
        {"exchange error inside ok",
         {0, R"({"retCode":10003,"retMsg":"API key is invalid."})", 401},
         R"({"status":"ok","exchange":"%","kind":"balance","body":{"retCode":10003,"retMsg":"API key is invalid."}})"},
        {"transport failure", http_failure(7, "Failed to connect to host port 443"),
         error_envelope("http_failed")},
        {"time out", http_failure(28, "Operation timed out after 20000 milliseconds"),
         error_envelope("http_failed")},
        {"html page",
         {0, "<html><h1>502 \"Bad\" Gateway</h1></html>\n", 502},
         R"({"status":"error","reason":"invalid_response","exchange":"%","kind":"balance",)"
         R"("body_text":"<html><h1>502 \"Bad\" Gateway</h1></html>\n"})"},
        {"empty",
         {0, "", 200},
         R"({"status":"error","reason":"invalid_response","exchange":"%","kind":"balance","body_text":""})"},
        {"two values",
         {0, "{} {}", 200},
         R"({"status":"error","reason":"invalid_response","exchange":"%","kind":"balance","body_text":"{} {}"})"},
    };
    for (const char* exchange : kLive) {
        for (const auto& c : cases) {
            http.queue(c.reply);
            std::string expected = c.printed;
            if (const size_t at = expected.find('%'); at != std::string::npos)
                expected.replace(at, 1, exchange);
            const std::string printed = reader.get_balance(exchange);
            EXPECT_EQ(printed, expected) << exchange << ": " << c.what;
            EXPECT_TRUE(is_json_value(printed)) << exchange << ": " << c.what;
        }
    }
    // Only a reply over its limit says why it failed.
    http.queue(HttpResult{0, std::string(kMaxReplyBytes + 1, ' '), 200});
    EXPECT_EQ(
        reader.get_balance("bitget"),
        R"({"status":"error","reason":"http_failed","message":"curl: (63) reply too large: over 8388608 bytes"})");
    // A body that is not UTF-8 is still echoed as valid JSON.
    http.queue(HttpResult{0, "\xff\xfe<bad>", 200});
    EXPECT_TRUE(is_json_value(reader.get_balance("okx")));
}

TEST_F(Envelopes, PlaceOpenJoinsLeverageAndOrderAndFailsAsAWhole) {
    const HttpResult lever{0, R"({"lev":1})", 200}, order{0, R"({"ord":2})", 200},
        refused{0, R"({"code":"59000","msg":"leverage refused"})", 200}, down = http_failure(7, "refused"),
                                                                         html{0, "<p>busy</p>", 200};
    const struct {
        const char* what;
        HttpResult leverage, place;
        std::string body;  // empty: `reason` instead
        std::string reason;
    } cases[] = {
        {"both answered", lever, order, R"({"leverage":{"lev":1},"place":{"ord":2}})", ""},
        {"leverage refused, order still sent", refused, order,
         R"({"leverage":{"code":"59000","msg":"leverage refused"},"place":{"ord":2}})", ""},
        {"leverage failed, order still sent", down, order, "", "http_failed"},
        {"order failed", lever, down, "", "http_failed"},
        {"order answered with a page", lever, html, "", "invalid_response"},
    };
    for (const char* exchange : {"bybit", "okx", "gate", "bingx", "bitget"}) {
        remember_mode(exchange, "one_way");
        for (const auto& c : cases) {
            http.sent.clear();
            http.queue(c.leverage);
            http.queue(c.place);
            const std::string printed = executor.place_open(exchange, "BTC_USDT", "buy", "1", "65000", 5);
            EXPECT_EQ(http.sent.size(), 2u) << exchange << ": " << c.what;
            if (!c.body.empty()) {
                EXPECT_NE(printed.find(R"("client_order_id":")"), std::string::npos) << printed;
                EXPECT_EQ(without_client_order_id(printed), ok_envelope(exchange, "place_open", c.body))
                    << exchange << ": " << c.what;
            } else {
                EXPECT_NE(printed.find(R"("reason":")" + c.reason + "\""), std::string::npos) << printed;
                // An order that reached the exchange is named, whatever else failed.
                EXPECT_EQ(printed.find("client_order_id") != std::string::npos, c.place.exit_code == 0) << printed;
            }
        }
    }
    // KuCoin sends its leverage with the order; the member says so.
    remember_mode("kucoin", "one_way");
    http.queue(order);
    EXPECT_EQ(without_client_order_id(executor.place_open("kucoin", "BTC_USDT", "buy", "1", "65000", 5)),
              ok_envelope(
                  "kucoin", "place_open",
                  R"({"leverage":{"symbol":"XBTUSDTM","leverage":5,"sentWith":"order"},"place":{"ord":2}})"));
}

TEST_F(Envelopes, CloseReportsJoinTheirRepliesAndGateStopsEarly) {
    const HttpResult order{0, R"({"o":1})", 200}, records{0, "[2]", 200}, down = http_failure(7, "refused");
    const struct {
        const char* exchange;
        const char* order_id;
        std::vector<HttpResult> replies;
        size_t sent;
        std::string body;  // of the ok envelope; else the failure's reason
    } cases[] = {
        {"bybit", "1", {order, records}, 2, R"({"order":{"o":1},"closed_pnl":[2]})"},
        {"bybit", "1", {order, down}, 2, "http_failed"},
        {"bybit", "1", {down, records}, 2, "http_failed"},
        {"okx", "1", {order, records}, 2, R"({"order":{"o":1},"positions_history":[2]})"},
        {"okx", "", {order, down}, 2, "http_failed"},
        {"gate", "1", {order, records}, 2, R"({"order":{"o":1},"trades":[2]})"},
        {"gate", "", {records}, 1, R"({"order":{},"trades":[2]})"},
        {"gate", "1", {down, records}, 1, "http_failed"},
        {"bingx", "", {records}, 1, R"({"order":{},"trades":[2]})"},
        {"bingx", "1", {down, records}, 2, "http_failed"},
        {"kucoin", "", {records}, 1, R"({"order":{},"trades":[2]})"},
        {"bitget", "1", {order, records}, 2, R"({"order":{"o":1},"trades":[2]})"},
        {"bitget", "", {records}, 1, R"({"order":{},"trades":[2]})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.exchange) + " " + c.order_id + " " + std::to_string(c.replies.size()));
        http.sent.clear();
        http.queued.clear();
        for (const HttpResult& reply : c.replies) http.queue(reply);
        EXPECT_EQ(executor.get_close_report(c.exchange, "BTC_USDT", c.order_id),
                  c.body == "http_failed" ? error_envelope(c.body)
                                          : ok_envelope(c.exchange, "close_report", c.body));
        EXPECT_EQ(http.sent.size(), c.sent);
    }
}

TEST_F(Envelopes, RefusalsComeInOrderAndSendNothing) {
    const struct {
        std::string printed;
        std::string reason;
    } cases[] = {
        {reader.get_balance("hyperliquid"), "credentials_not_found"},
        {reader.get_order_status("hyperliquid", "BTC_USDT", ""), "credentials_not_found"},
        {reader.get_order_status("paradex", "BTC_USDT", ""), "missing_order_id"},
        {reader.cancel_order("okx", "BTC_USDT", ""), "missing_order_id"},
        {reader.get_balance("paradex"), "unsupported_exchange"},
        {reader.get_position("paradex", "bad/symbol"), "unsupported_exchange"},
        {executor.place_open("paradex", "BTC_USDT", "buy", "1", "1", 1), "unsupported_exchange"},
        {executor.get_funding("paradex", "BTC_USDT", 60), "unsupported_exchange"},
        {reader.get_position("bybit", "BTC/USDT"), "invalid_symbol"},
        {executor.get_funding("okx", "", 60), "invalid_symbol"},
        {reader.get_order_status("gate", "BTC_USDT", ".."), "invalid_order_id"},
        {reader.cancel_order("bitget", "BTC_USDT", "1&x=2"), "invalid_order_id"},
        {executor.get_close_report("okx", "BTC_USDT", "../x"), "invalid_order_id"},
        {executor.place_close("bybit", "BTC_USDT", "long", "1", "1"), "invalid_side"},
        {executor.place_open("okx", "BTC_USDT", "Buy", "1", "1", 5), "invalid_side"},
        {executor.place_open("bingx", "BTC_USDT", "buy", "1e5", "1", 5), "invalid_quantity"},
        {executor.place_close("bitget", "BTC_USDT", "sell", "1", "0.000"), "invalid_price"},
        {executor.place_open("bybit", "BTC_USDT", "buy", "1", "1", 0), "invalid_leverage"},
        {executor.place_open("gate", "BTC_USDT", "buy", "0.5", "1", 5), "invalid_quantity"},
        {executor.place_close("kucoin", "BTC_USDT", "buy", "1.5", "1"), "invalid_quantity"},
        {executor.place_open("gate", "BTC_USDT", "buy", "1", "x", 0), "invalid_price"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.printed, error_envelope(c.reason));
    EXPECT_TRUE(http.sent.empty());
    // A fractional size is fine where the exchange takes base-coin quantities.
    remember_mode("bybit", "one_way");
    http.answer("", "{}");
    EXPECT_EQ(without_client_order_id(executor.place_close("bybit", "BTC_USDT", "buy", "0.5", "1")),
              ok_envelope("bybit", "place_close", "{}"));
}

TEST_F(Envelopes, WhatARunLearnsServesTheNextRun) {
    http.queue(R"({"code":"0","data":[{"posMode":"net_mode"}]})");
    http.queue(R"({"code":"0","data":[{"ordId":"1"}]})");
    executor.place_close("okx", "BTC_USDT", "buy", "1", "64000");
    ASSERT_EQ(http.sent.size(), 2u);
    EXPECT_EQ(memory.load("okx", "key-1").position_mode, "one_way");
    EXPECT_TRUE(problems.empty());

    http.sent.clear();
    http.queue(R"({"code":"0","data":[{"ordId":"2"}]})");
    executor.place_close("okx", "BTC_USDT", "buy", "1", "64000");
    ASSERT_EQ(http.sent.size(), 1u);
    EXPECT_EQ(http.sent[0].body.find("posSide"), std::string::npos);
}

TEST_F(Envelopes, AMemoryThatCannotBeSavedIsReported) {
    // A folder where the file should be: the atomic rename over it fails, even for root.
    std::filesystem::create_directories(memory.path("bybit") + "/occupied");
    http.queue(R"({"retCode":0,"result":{"list":[{"positionIdx":1},{"positionIdx":2}]}})");
    http.queue(R"({"retCode":0,"result":{"orderId":"1"}})");
    const std::string printed = executor.place_close("bybit", "BTC_USDT", "sell", "1", "64000");
    EXPECT_EQ(without_client_order_id(printed),
              ok_envelope("bybit", "place_close", R"({"retCode":0,"result":{"orderId":"1"}})"));
    EXPECT_EQ(problems, std::vector<std::string>{"cannot write " + memory.path("bybit")});
}

}  // namespace
}  // namespace korvane::connector
