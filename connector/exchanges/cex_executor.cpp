#include "connector/exchanges/cex_executor.h"

#include "connector/exchanges/input_checks.h"
#include "connector/exchanges/request_signing.h"
#include "connector/toolkit/clock.h"

namespace korvane::connector {
namespace {

bool is_trading_exchange(const std::string& exchange) {
    return exchange == "bybit" || exchange == "okx" || exchange == "gate";
}

// Returns the envelope of two replies joined as {"first":a,"second":b}; "http_failed" when
// either request failed.
std::string composite(const std::string& exchange, const std::string& kind, const char* first,
                      const HttpResult& a, const char* second, const HttpResult& b) {
    if (a.exit_code != 0 || b.exit_code != 0) return fail_json("http_failed");
    return ok_json(exchange, kind,
                   std::string("{\"") + first + "\":" + a.body + ",\"" + second + "\":" + b.body + "}");
}

// The order body shared by opening and closing; `reduce` closes.
HttpResult send_order(const StoredCredential& c, const std::string& exchange, const std::string& symbol,
                      bool buy, const std::string& quantity, const std::string& price, bool reduce) {
    if (exchange == "bybit") {
        const std::string body =
            "{\"category\":\"linear\",\"symbol\":\"" + bybit_native(symbol) + "\",\"side\":\"" +
            (buy ? "Buy" : "Sell") + "\",\"orderType\":\"Limit\",\"qty\":\"" + quantity + "\",\"price\":\"" +
            price + "\",\"timeInForce\":\"GTC\"" + (reduce ? ",\"reduceOnly\":true" : "") + "}";
        return bybit_request(c, "POST", "/v5/order/create", "", body, ms_stamp());
    }
    if (exchange == "okx") {
        // The position side names the position the order belongs to, so it is the opposite of
        // the order side when closing.
        const bool long_position = reduce ? !buy : buy;
        const std::string body =
            "{\"instId\":\"" + okx_inst_id(symbol) + "\",\"tdMode\":\"isolated\",\"posSide\":\"" +
            (long_position ? "long" : "short") + "\",\"side\":\"" + (buy ? "buy" : "sell") +
            "\",\"ordType\":\"limit\",\"px\":\"" + price + "\",\"sz\":\"" + quantity + "\"" +
            (reduce ? ",\"reduceOnly\":true" : "") + "}";
        return okx_request(c, "POST", "/api/v5/trade/order", body, iso8601_now_ms());
    }
    // Gate has no side field: a negative size sells.
    const std::string body = "{\"contract\":\"" + symbol + "\",\"size\":" + (buy ? "" : "-") + quantity +
                             ",\"price\":\"" + price + "\",\"tif\":\"gtc\"" +
                             (reduce ? ",\"reduce_only\":true" : "") + "}";
    return gate_request(c, "POST", "/api/v4/futures/usdt/orders", "", body, sec_stamp(), true);
}

HttpResult set_leverage(const StoredCredential& c, const std::string& exchange, const std::string& symbol,
                        bool buy, int leverage) {
    const std::string lever = std::to_string(leverage);
    if (exchange == "bybit") {
        return bybit_request(c, "POST", "/v5/position/set-leverage", "",
                             "{\"category\":\"linear\",\"symbol\":\"" + bybit_native(symbol) +
                                 "\",\"buyLeverage\":\"" + lever + "\",\"sellLeverage\":\"" + lever + "\"}",
                             ms_stamp());
    }
    if (exchange == "okx") {
        return okx_request(c, "POST", "/api/v5/account/set-leverage",
                           "{\"instId\":\"" + okx_inst_id(symbol) + "\",\"lever\":\"" + lever +
                               "\",\"mgnMode\":\"isolated\",\"posSide\":\"" + (buy ? "long" : "short") +
                               "\"}",
                           iso8601_now_ms());
    }
    return gate_request(c, "POST", "/api/v4/futures/usdt/positions/" + symbol + "/leverage",
                        "leverage=" + lever, "", sec_stamp(), false);
}

}  // namespace

std::string CexExecutor::place_open(const std::string& exchange, const std::string& symbol,
                                    const std::string& side, const std::string& quantity,
                                    const std::string& price, int leverage) const {
    const auto credential = vault_.load(exchange);
    if (!credential) return fail_json("credentials_not_found");
    if (!is_trading_exchange(exchange)) return fail_json("unsupported_exchange");
    if (const std::string refusal =
            first_refusal({check_symbol(symbol), check_side(side), check_quantity(quantity),
                           check_price(price), check_leverage(leverage)});
        !refusal.empty()) {
        return fail_json(refusal);
    }
    const bool buy = side == "buy";
    // The order goes out even when the leverage change is refused; the reply shows both.
    const HttpResult lever_reply = set_leverage(*credential, exchange, symbol, buy, leverage);
    const HttpResult order_reply = send_order(*credential, exchange, symbol, buy, quantity, price, false);
    return composite(exchange, "place_open", "leverage", lever_reply, "place", order_reply);
}

std::string CexExecutor::place_close(const std::string& exchange, const std::string& symbol,
                                     const std::string& side, const std::string& quantity,
                                     const std::string& price) const {
    const auto credential = vault_.load(exchange);
    if (!credential) return fail_json("credentials_not_found");
    if (!is_trading_exchange(exchange)) return fail_json("unsupported_exchange");
    if (const std::string refusal = first_refusal(
            {check_symbol(symbol), check_side(side), check_quantity(quantity), check_price(price)});
        !refusal.empty()) {
        return fail_json(refusal);
    }
    // Closing a long ("buy") sells.
    const bool order_buys = side != "buy";
    return envelope_for(send_order(*credential, exchange, symbol, order_buys, quantity, price, true),
                        exchange, "place_close");
}

std::string CexExecutor::get_funding(const std::string& exchange, const std::string& symbol,
                                     int lookback_minutes) const {
    const auto credential = vault_.load(exchange);
    if (!credential) return fail_json("credentials_not_found");
    if (!is_trading_exchange(exchange)) return fail_json("unsupported_exchange");
    if (const std::string refusal = check_symbol(symbol); !refusal.empty()) return fail_json(refusal);
    const int64_t lookback = lookback_minutes;
    HttpResult reply;
    if (exchange == "bybit") {
        const std::string timestamp = ms_stamp();
        const int64_t start = epoch_ms() - lookback * 60 * 1000;
        reply = bybit_request(*credential, "GET", "/v5/account/transaction-log",
                              "category=linear&symbol=" + bybit_native(symbol) +
                                  "&startTime=" + std::to_string(start) + "&limit=50",
                              "", timestamp);
    } else if (exchange == "okx") {
        reply = okx_request(
            *credential, "GET",
            "/api/v5/account/bills?instType=SWAP&instId=" + okx_inst_id(symbol) + "&type=8&limit=50", "",
            iso8601_now_ms());
    } else {
        const std::string timestamp = sec_stamp();
        const int64_t start = epoch_sec() - lookback * 60;
        reply = gate_request(*credential, "GET", "/api/v4/futures/usdt/account_book",
                             "type=fund&contract=" + symbol + "&from=" + std::to_string(start) + "&limit=50",
                             "", timestamp, false);
    }
    return envelope_for(reply, exchange, "funding");
}

std::string CexExecutor::get_close_report(const std::string& exchange, const std::string& symbol,
                                          const std::string& order_id) const {
    const auto credential = vault_.load(exchange);
    if (!credential) return fail_json("credentials_not_found");
    if (!is_trading_exchange(exchange)) return fail_json("unsupported_exchange");
    // An empty order id is allowed here: the report then shows the records alone.
    if (const std::string refusal =
            first_refusal({check_symbol(symbol), order_id.empty() ? "" : check_order_id(order_id)});
        !refusal.empty()) {
        return fail_json(refusal);
    }
    const StoredCredential& c = *credential;
    if (exchange == "bybit") {
        const std::string native = bybit_native(symbol);
        const HttpResult order = bybit_request(
            c, "GET", "/v5/order/realtime",
            "category=linear&symbol=" + native + (order_id.empty() ? "" : "&orderId=" + order_id), "",
            ms_stamp());
        const HttpResult pnl =
            bybit_request(c, "GET", "/v5/position/closed-pnl",
                          "category=linear&symbol=" + native + "&limit=20", "", ms_stamp());
        return composite(exchange, "close_report", "order", order, "closed_pnl", pnl);
    }
    if (exchange == "okx") {
        const std::string inst = okx_inst_id(symbol);
        const HttpResult order = okx_request(
            c, "GET", "/api/v5/trade/order?instId=" + inst + (order_id.empty() ? "" : "&ordId=" + order_id),
            "", iso8601_now_ms());
        const HttpResult history = okx_request(
            c, "GET", "/api/v5/account/positions-history?instType=SWAP&instId=" + inst, "", iso8601_now_ms());
        return composite(exchange, "close_report", "order", order, "positions_history", history);
    }
    // Gate: one timestamp serves both requests, and a failed order lookup ends the report.
    const std::string timestamp = sec_stamp();
    HttpResult order{0, "{}"};
    if (!order_id.empty()) {
        order = gate_request(c, "GET", "/api/v4/futures/usdt/orders/" + order_id, "", "", timestamp, false);
        if (order.exit_code != 0) return fail_json("http_failed");
    }
    const HttpResult trades = gate_request(c, "GET", "/api/v4/futures/usdt/my_trades",
                                           "contract=" + symbol + "&limit=20", "", timestamp, false);
    return composite(exchange, "close_report", "order", order, "trades", trades);
}

}  // namespace korvane::connector
