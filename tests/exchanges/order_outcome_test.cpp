// An order whose reply is lost is looked up by its client order id, never sent again.
#include <gtest/gtest.h>

#include <string>

#include "connector/app/exchange_output.h"
#include "connector/exchanges/order_outcome.h"
#include "connector/toolkit/text.h"
#include "tests/exchanges/adapter_support.h"

namespace korvane::connector {
namespace {

struct LookupCase {
    const char* exchange;
    const char* lookup;  // a part of the lookup URLs only
    const char* client_order_id;
    HttpResult found;
    HttpResult absent;
};

const LookupCase kCases[] = {
    {"bybit",
     "orderLinkId=kv1",
     "kv1",
     {0, R"({"retCode":0,"retMsg":"OK","result":{"list":[{"orderId":"8","orderLinkId":"kv1"}]}})", 200},
     {0, R"({"retCode":0,"retMsg":"OK","result":{"list":[]}})", 200}},
    {"okx",
     "clOrdId=kv1",
     "kv1",
     {0, R"({"code":"0","msg":"","data":[{"ordId":"8","clOrdId":"kv1"}]})", 200},
     {0, R"({"code":"51603","msg":"Order does not exist","data":[]})", 200}},
    {"gate",
     "/orders/t-kv1",
     "t-kv1",
     {0, R"({"id":8,"text":"t-kv1"})", 200},
     {0, R"({"label":"ORDER_NOT_FOUND","message":"Order not found"})", 404}},
    {"bingx",
     "clientOrderId=kv1",
     "kv1",
     {0, R"({"code":0,"msg":"","data":{"order":{"orderId":8}}})", 200},
     {0, R"({"code":80016,"msg":"order does not exist"})", 200}},
    {"kucoin",
     "clientOid=kv1",
     "kv1",
     {0, R"({"code":"200000","data":{"id":"8","clientOid":"kv1"}})", 200},
     {0, R"({"code":"200000","data":null})", 200}},
    {"bitget",
     "clientOid=kv1",
     "kv1",
     {0, R"({"code":"00000","msg":"success","data":{"orderId":"8"}})", 200},
     {0, R"({"code":"40109","msg":"The data of the order cannot be found"})", 200}},
};

struct OrderRun {
    OperationResult result;
    int orders = 0;   // order requests sent
    int lookups = 0;  // requests after the order
};

// Closes a long with `lost` as the order's reply and `lookup` answering every lookup.
OrderRun close_with(const LookupCase& c, const HttpResult& lost, const HttpResult& lookup) {
    set_order_lookup_pause_ms(1);
    AdapterBench bench;
    OrderRun run;
    bench.http.respond = [&](const HttpRequest& request) {
        if (contains(request.url, c.lookup)) return lookup;
        // Gate's finished-order list, asked when the open order is not found by its text.
        if (contains(request.url, "status=finished")) return HttpResult{0, "[]", 200};
        return run.orders == 0 ? lost : HttpResult{0, "{}", 200};
    };
    ExchangeSession session = bench.session(c.exchange, known("one_way"));
    run.result =
        adapter_of(c.exchange).place_close(session, OrderRequest{"BTC_USDT", true, "1", "64000", "kv1"});
    for (const HttpRequest& request : bench.http.sent) {
        if (request.method == "POST" && !contains(request.url, "leverage")) {
            ++run.orders;
        } else if (run.orders > 0) {
            ++run.lookups;
        }
    }
    return run;
}

const HttpResult kBadGateway{0, "<html>502 Bad Gateway</html>", 502};

TEST(OrderOutcome, ALostReplyIsSettledByLookingTheOrderUp) {
    for (const LookupCase& c : kCases) {
        SCOPED_TRACE(c.exchange);
        const OrderRun found = close_with(c, kBadGateway, c.found);
        EXPECT_EQ(found.result.reason, "");
        EXPECT_EQ(found.result.body, c.found.body);
        EXPECT_EQ(found.result.client_order_id, c.client_order_id);
        EXPECT_EQ(found.orders, 1);
        EXPECT_EQ(found.lookups, 1);

        const OrderRun absent = close_with(c, http_failure(kHttpTimedOut, "timed out"), c.absent);
        EXPECT_EQ(absent.result.reason, "order_not_placed");
        EXPECT_EQ(absent.result.client_order_id, c.client_order_id);
        EXPECT_EQ(absent.orders, 1);
        // Three tries; Gate and Bybit ask twice a try (Gate the open order then the finished ones,
        // Bybit the recent orders then the history).
        const bool twice = std::string(c.exchange) == "gate" || std::string(c.exchange) == "bybit";
        EXPECT_EQ(absent.lookups, twice ? 6 : 3);

        const OrderRun unknown = close_with(c, kBadGateway, http_failure(kHttpTimedOut, "timed out"));
        EXPECT_EQ(unknown.result.reason, "order_outcome_unknown");
        EXPECT_EQ(unknown.orders, 1);
        EXPECT_EQ(unknown.lookups, 3);
    }
}

TEST(OrderOutcome, AKnownOutcomeIsNeverLookedUp) {
    const struct {
        HttpResult reply;
        const char* reason;
    } cases[] = {
        {http_failure(7, "Failed to connect"), "http_failed"},  // nothing left: the order cannot exist
        {HttpResult{0, R"({"retCode":10001,"retMsg":"params error"})", 200}, "exchange_rejected"},  // an answer
        {HttpResult{0, R"({"retCode":0,"result":{"orderId":"8"}})", 200}, ""},
    };
    for (const auto& c : cases) {
        const OrderRun run = close_with(kCases[0], c.reply, kCases[0].found);
        EXPECT_EQ(run.result.reason, c.reason) << c.reply.body;
        // Where no order can exist the short failure stands.
        EXPECT_EQ(run.result.client_order_id, c.reply.exit_code == 0 ? "kv1" : "");
        EXPECT_EQ(run.orders, 1);
        EXPECT_EQ(run.lookups, 0) << c.reply.body;
    }
}

TEST(OrderOutcome, ClientOrderIdsFitEveryExchangeAndDiffer) {
    AdapterBench bench;
    const std::string a = make_client_order_id(bench.clock);
    const std::string b = make_client_order_id(bench.clock);
    EXPECT_NE(a, b);
    // Gate allows 28 characters after "t-"; OKX letters and digits only.
    EXPECT_EQ(a.size(), 26u);
    EXPECT_EQ(a.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789"), std::string::npos) << a;
    EXPECT_EQ(a.rfind("kv" + kNowText, 0), 0u) << a;
}

TEST(OrderOutcome, EnvelopesCarryTheClientOrderId) {
    OperationResult ok;
    ok.body = "{}";
    ok.client_order_id = "kv1";
    EXPECT_EQ(envelope("bybit", "place_close", ok),
              R"({"status":"ok","exchange":"bybit","kind":"place_close","client_order_id":"kv1","body":{}})");
    OperationResult lost = refused("order_not_placed");
    lost.client_order_id = "t-kv1";
    EXPECT_EQ(envelope("gate", "place_close", lost),
              R"({"status":"error","reason":"order_not_placed","client_order_id":"t-kv1"})");
}

}  // namespace
}  // namespace korvane::connector
