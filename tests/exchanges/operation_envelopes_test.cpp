// Exchange replies as the commands print them: envelopes, composites, refusals and what a run
// remembers, through the exchange operations over a vault in a temporary folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "connector/app/exchange_output.h"
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
    std::vector<Status> problems;
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
        {"error status without the exchange's code",
         {0, R"({"error":"denied"})", 401},
         R"({"status":"error","reason":"exchange_rejected","exchange":"%","kind":"balance","code":"401",)"
         R"("message":"","class":"other","body":{"error":"denied"}})"},
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
        down = http_failure(7, "refused"), html{0, "<p>busy</p>", 200};
    const struct {
        const char* what;
        HttpResult leverage, place;
        std::string body;  // empty: `reason` instead
        std::string reason;
    } cases[] = {
        {"both answered", lever, order, R"({"leverage":{"lev":1},"place":{"ord":2}})", ""},
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
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0].message, "cannot write " + memory.path("bybit"));
}

// The envelope of a request the exchange refused; `retry` is the retry_after_ms number, if any.
std::string rejected_envelope(const std::string& exchange, const std::string& kind, const std::string& code,
                              const std::string& message, const std::string& refusal_class,
                              const std::string& body, const std::string& retry = "",
                              const std::string& reason = "exchange_rejected") {
    return R"({"status":"error","reason":")" + reason + R"(","exchange":")" + exchange + R"(","kind":")" +
           kind + R"(","code":")" + code + R"(","message":")" + message + R"(","class":")" + refusal_class +
           "\"" + (retry.empty() ? "" : ",\"retry_after_ms\":" + retry) + ",\"body\":" + body + "}";
}

// A reply carrying one header line.
HttpResult with_header(long status, const std::string& body, const std::string& header) {
    HttpResult reply{0, body, status};
    reply.headers.push_back(header);
    return reply;
}

TEST_F(Envelopes, EachDocumentedRefusalIsAnErrorWithTheExchangesCodeAndClass) {
    const std::string reset_in_1500 = "X-Bapi-Limit-Reset-Timestamp: " + std::to_string(kNowMs + 1500);
    const struct {
        const char* exchange;
        HttpResult reply;
        const char* code;
        const char* message;
        const char* refusal_class;
        const char* retry = "";
    } cases[] = {
        {"bybit",
         {0, R"({"retCode":110007,"retMsg":"ab not enough for new order"})", 200},
         "110007",
         "ab not enough for new order",
         "insufficient_margin"},
        {"bybit",
         {0, R"({"retCode":10010,"retMsg":"Unmatched IP"})", 200},
         "10010",
         "Unmatched IP",
         "ip_not_allowed"},
        {"bybit",
         {0, R"({"retCode":10003,"retMsg":"API key is invalid."})", 401},
         "10003",
         "API key is invalid.",
         "credentials"},
        {"bybit",
         {0, R"({"retCode":10005,"retMsg":"Permission denied"})", 200},
         "10005",
         "Permission denied",
         "permission"},
        {"bybit", with_header(200, R"({"retCode":10006,"retMsg":"Too many visits"})", reset_in_1500), "10006",
         "Too many visits", "rate_limited", "1500"},
        {"bybit",
         {0, R"({"retCode":110001,"retMsg":"order not exists"})", 200},
         "110001",
         "order not exists",
         "not_found"},
        {"bybit", {0, R"({"retCode":170131,"retMsg":"other"})", 200}, "170131", "other", "other"},
        {"okx",
         {0, R"({"code":"1","msg":"","data":[{"sCode":"51008","sMsg":"Insufficient USDT margin"}]})", 200},
         "51008",
         "Insufficient USDT margin",
         "insufficient_margin"},
        {"okx",
         {0, R"({"code":"50110","msg":"IP not in whitelist","data":[]})", 401},
         "50110",
         "IP not in whitelist",
         "ip_not_allowed"},
        {"okx",
         {0, R"({"code":"50011","msg":"Too Many Requests"})", 429},
         "50011",
         "Too Many Requests",
         "rate_limited"},
        {"okx",
         {0, R"({"code":"50101","msg":"APIKey does not match current environment."})", 401},
         "50101",
         "APIKey does not match current environment.",
         "wrong_environment"},
        {"okx",
         {0, R"({"code":"51010","msg":"current account mode"})", 200},
         "51010",
         "current account mode",
         "account_mode"},
        {"okx",
         {0, R"({"code":"50120","msg":"no permission"})", 401},
         "50120",
         "no permission",
         "permission"},
        {"gate",
         {0, R"({"label":"INSUFFICIENT_AVAILABLE","message":"Insufficient balance"})", 400},
         "INSUFFICIENT_AVAILABLE",
         "Insufficient balance",
         "insufficient_margin"},
        {"gate",
         {0, R"({"label":"IP_FORBIDDEN","message":"IP not allowed"})", 403},
         "IP_FORBIDDEN",
         "IP not allowed",
         "ip_not_allowed"},
        {"gate",
         {0, R"({"label":"READ_ONLY","message":"read only"})", 403},
         "READ_ONLY",
         "read only",
         "permission"},
        {"gate",
         with_header(429, R"({"label":"TOO_MANY_REQUESTS","message":"slow down"})",
                     "X-Gate-RateLimit-Reset-Timestamp: " + std::to_string(kNowMs + 5000)),
         "TOO_MANY_REQUESTS", "slow down", "rate_limited", "5000"},
        {"gate",
         {0, R"({"label":"ORDER_NOT_FOUND","message":"Order not found"})", 404},
         "ORDER_NOT_FOUND",
         "Order not found",
         "not_found"},
        {"bingx",
         {0, R"({"code":101204,"msg":"Insufficient margin"})", 200},
         "101204",
         "Insufficient margin",
         "insufficient_margin"},
        {"bingx",
         {0, R"({"code":100419,"msg":"IP not in the whitelist"})", 200},
         "100419",
         "IP not in the whitelist",
         "ip_not_allowed"},
        {"bingx",
         {0, R"({"code":100004,"msg":"Permission denied"})", 200},
         "100004",
         "Permission denied",
         "permission"},
        {"bingx",
         {0, R"({"code":100410,"msg":"rate limitation"})", 429},
         "100410",
         "rate limitation",
         "rate_limited"},
        {"bingx",
         {0, R"({"code":80016,"msg":"order not exist"})", 200},
         "80016",
         "order not exist",
         "not_found"},
        {"kucoin",
         {0, R"({"code":"300003","msg":"Balance insufficient!"})", 200},
         "300003",
         "Balance insufficient!",
         "insufficient_margin"},
        {"kucoin",
         {0, R"({"code":"400006","msg":"Invalid request ip"})", 400},
         "400006",
         "Invalid request ip",
         "ip_not_allowed"},
        {"kucoin",
         {0, R"({"code":"400007","msg":"Access Denied"})", 400},
         "400007",
         "Access Denied",
         "permission"},
        {"kucoin",
         with_header(429, R"({"code":"429000","msg":"Too Many Requests"})", "gw-ratelimit-reset: 800"),
         "429000", "Too Many Requests", "rate_limited", "800"},
        {"bitget",
         {0, R"({"code":"40762","msg":"The order amount exceeds the balance"})", 400},
         "40762",
         "The order amount exceeds the balance",
         "insufficient_margin"},
        {"bitget",
         {0, R"({"code":"40018","msg":"Invalid IP"})", 400},
         "40018",
         "Invalid IP",
         "ip_not_allowed"},
        {"bitget",
         {0, R"({"code":"40014","msg":"Incorrect permissions"})", 400},
         "40014",
         "Incorrect permissions",
         "permission"},
        {"bitget",
         {0, R"({"code":"429","msg":"Too Many Requests"})", 429},
         "429",
         "Too Many Requests",
         "rate_limited"},
        {"bitget",
         {0, R"({"code":"40008","msg":"Request timestamp expired"})", 400},
         "40008",
         "Request timestamp expired",
         "timestamp"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.exchange) + " " + c.code);
        http.sent.clear();
        http.queued.clear();
        // A refused read is asked once more when the exchange says it was rate-limited.
        http.queue(c.reply);
        http.queue(c.reply);
        const std::string printed = reader.get_balance(c.exchange);
        EXPECT_EQ(printed, rejected_envelope(c.exchange, "balance", c.code, c.message, c.refusal_class,
                                             c.reply.body, c.retry));
        EXPECT_TRUE(is_json_value(printed));
        const bool limited = std::string(c.refusal_class) == "rate_limited";
        const bool stamp = std::string(c.refusal_class) == "timestamp";
        // A refused stamp reads the exchange's clock, which here says nothing: no second send.
        EXPECT_EQ(http.sent.size(), limited || stamp ? 2u : 1u);
    }
}

TEST_F(Envelopes, ARateLimitedReadIsAskedOnceMoreAndAnOrderNever) {
    const struct {
        const char* exchange;
        HttpResult limited;
        int64_t wait;  // what the connector waits before asking again: the exchange's word, at most 2 s
    } cases[] = {
        {"bybit",
         with_header(200, R"({"retCode":10006,"retMsg":"Too many visits"})",
                     "X-Bapi-Limit-Reset-Timestamp: " + std::to_string(kNowMs + 1500)),
         1500},
        {"okx", {0, R"({"code":"50011","msg":"Too Many Requests"})", 429}, 1000},
        {"gate",
         with_header(429, R"({"label":"TOO_MANY_REQUESTS","message":"slow down"})",
                     "X-Gate-RateLimit-Reset-Timestamp: " + std::to_string(kNowMs + 5000)),
         2000},
        {"bingx", {0, R"({"code":100410,"msg":"rate limitation"})", 429}, 1000},
        {"kucoin",
         with_header(429, R"({"code":"429000","msg":"Too Many Requests"})", "gw-ratelimit-reset: 800"), 800},
        {"bitget", {0, R"({"code":"429","msg":"Too Many Requests"})", 429}, 1000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.exchange);
        remember_mode(c.exchange, "one_way");
        http.sent.clear();
        clock.slept.clear();
        http.queue(c.limited);
        http.queue(R"({"data":[]})");
        EXPECT_EQ(reader.get_balance(c.exchange).find(R"({"status":"ok")"), 0u);
        EXPECT_EQ(http.sent.size(), 2u);
        EXPECT_EQ(clock.slept, std::vector<int64_t>{c.wait});

        http.sent.clear();
        http.queued.clear();
        http.queue(c.limited);
        const std::string printed = executor.place_close(c.exchange, "BTC_USDT", "buy", "1", "64000");
        EXPECT_NE(printed.find(R"("reason":"exchange_rejected")"), std::string::npos) << printed;
        EXPECT_NE(printed.find(R"("class":"rate_limited")"), std::string::npos) << printed;
        EXPECT_EQ(http.sent.size(), 1u);
        http.queued.clear();
    }
}

TEST_F(Envelopes, ARefusedLeverageSendsNoOrder) {
    const HttpResult order{0, R"({"retCode":0,"code":"0","ord":2})", 200};
    const struct {
        const char* exchange;
        HttpResult refusal;
        const char* code;
        const char* message;
        const char* refusal_class;
    } cases[] = {
        {"bybit", {0, R"({"retCode":110013,"retMsg":"risk limit"})", 200}, "110013", "risk limit", "other"},
        {"okx",
         {0, R"({"code":"59102","msg":"Leverage exceeds the maximum"})", 200},
         "59102",
         "Leverage exceeds the maximum",
         "other"},
        {"gate",
         {0, R"({"label":"INVALID_PARAM_VALUE","message":"leverage"})", 400},
         "INVALID_PARAM_VALUE",
         "leverage",
         "invalid_request"},
        {"bingx",
         {0, R"({"code":100004,"msg":"Permission denied"})", 200},
         "100004",
         "Permission denied",
         "permission"},
        {"bitget",
         {0, R"({"code":"40797","msg":"Exceeded the maximum settable leverage"})", 400},
         "40797",
         "Exceeded the maximum settable leverage",
         "other"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.exchange);
        remember_mode(c.exchange, "one_way");
        http.sent.clear();
        http.queued.clear();
        http.queue(c.refusal);
        http.queue(order);
        EXPECT_EQ(executor.place_open(c.exchange, "BTC_USDT", "buy", "1", "65000", 5),
                  rejected_envelope(c.exchange, "place_open", c.code, c.message, c.refusal_class,
                                    "{\"leverage\":" + c.refusal.body + "}", "", "leverage_rejected"));
        EXPECT_EQ(http.sent.size(), 1u);
    }
    // Bybit says when the position already has the leverage: the order goes out.
    http.sent.clear();
    http.queued.clear();
    const HttpResult unchanged{0, R"({"retCode":110043,"retMsg":"leverage not modified"})", 200};
    http.queue(unchanged);
    http.queue(order);
    EXPECT_EQ(without_client_order_id(executor.place_open("bybit", "BTC_USDT", "buy", "1", "65000", 5)),
              ok_envelope("bybit", "place_open",
                          R"({"leverage":)" + unchanged.body + R"(,"place":)" + order.body + "}"));
    EXPECT_EQ(http.sent.size(), 2u);
    // An order refused after its leverage was set carries both replies.
    http.sent.clear();
    http.queue(R"({"code":"0","data":[]})");
    http.queue(R"({"code":"1","data":[{"sCode":"51008","sMsg":"Insufficient USDT margin"}]})");
    EXPECT_EQ(
        without_client_order_id(executor.place_open("okx", "BTC_USDT", "buy", "1", "65000", 5)),
        rejected_envelope("okx", "place_open", "51008", "Insufficient USDT margin", "insufficient_margin",
                          R"({"leverage":{"code":"0","data":[]},"place":)"
                          R"({"code":"1","data":[{"sCode":"51008","sMsg":"Insufficient USDT margin"}]}})"));
}

}  // namespace
}  // namespace korvane::connector
