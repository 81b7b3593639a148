// Bybit v5: HMAC-SHA256 hex over timestamp + key + receive window + (query | body).
#include "connector/exchanges/exchange_adapter.h"
#include "connector/exchanges/symbols.h"
#include "connector/exchanges/credential_check.h"
#include "connector/exchanges/funding_windows.h"
#include "connector/exchanges/order_outcome.h"
#include "connector/toolkit/digest.h"
#include "connector/toolkit/text.h"

namespace korvane::connector {
namespace {

constexpr const char* kRecvWindow = "5000";

std::string ret_code(const HttpResult& reply) {
    return reply_code(reply, "retCode");
}

// Bybit names the position an order belongs to by index: 0 in one-way mode, 1 (long) or
// 2 (short) in hedge mode.
int position_index(bool hedge, bool long_position) {
    return hedge ? (long_position ? 1 : 2) : 0;
}

// Bybit's documented refusal codes, https://bybit-exchange.github.io/docs/v5/error ("UTA" and
// "Contract" tables).
const std::vector<RefusalCode> kRefusals = {
    {"10001", "invalid_request"},      {"10002", "timestamp"},
    {"10003", "credentials"},          {"10004", "credentials"},
    {"10005", "permission"},           {"10006", "rate_limited"},
    {"10007", "credentials"},          {"10008", "account_mode"},
    {"10009", "ip_not_allowed"},       {"10010", "ip_not_allowed"},
    {"10018", "rate_limited"},         {"10027", "permission"},
    {"10028", "account_mode"},         {"33004", "credentials"},
    {"110001", "not_found"},           {"110004", "insufficient_margin"},
    {"110007", "insufficient_margin"}, {"110012", "insufficient_margin"},
    {"110025", "position_mode"},       {"110026", "margin_mode"},
};

// Bybit answers a leverage the position already has with this code.
constexpr const char* kLeverageNotModified = "110043";

bool refused_for_mode(const HttpResult& reply) {
    return ret_code(reply) == "10001" && contains(reply.body, "position idx not match position mode");
}

class Bybit final : public ExchangeAdapter {
  public:
    std::optional<int64_t> server_time_ms(ExchangeSession& session) const override;
    ContractInfo contract_info(ExchangeSession& session, const std::string& symbol) const override;
    ValidateCredentialsResult validate(const ValidateCredentialsRequest& request,
                                       ExchangeSession& session) const override;
    OperationResult balance(ExchangeSession& session) const override;
    OperationResult position(ExchangeSession& session, const std::string& symbol) const override;
    OperationResult order_status(ExchangeSession& session, const std::string& symbol,
                                 const std::string& order_id) const override;
    OperationResult cancel_order(ExchangeSession& session, const std::string& symbol,
                                 const std::string& order_id) const override;
    OperationResult place_open(ExchangeSession& session, const OrderRequest& order, int leverage) const override;
    OperationResult place_close(ExchangeSession& session, const OrderRequest& order) const override;
    OperationResult funding(ExchangeSession& session, const std::string& symbol,
                            int lookback_minutes) const override;
    OperationResult close_report(ExchangeSession& session, const std::string& symbol,
                                 const std::string& order_id) const override;
    std::optional<Refusal> read_refusal(const HttpResult& reply, int64_t now_ms) const override;

  private:
    // Signs and sends one request; `query` excludes the "?".
    HttpResult send(ExchangeSession& session, const std::string& method, const std::string& path,
                    const std::string& query, const std::string& body) const;
    HttpResult send_order(ExchangeSession& session, const OrderRequest& order, bool buy, bool reduce,
                          bool hedge, OrderTicket& ticket) const;
    ModeRules mode_rules(ExchangeSession& session, const std::string& symbol) const;
};

std::optional<Refusal> Bybit::read_refusal(const HttpResult& reply, int64_t now_ms) const {
    const std::string code = ret_code(reply);
    if (code == "0" || (code.empty() && reply.status < 400)) return std::nullopt;
    Refusal refusal;
    refusal.code = code.empty() ? std::to_string(reply.status) : code;
    refusal.message = reply_code(reply, "retMsg");
    refusal.refusal_class = classify_refusal(kRefusals, refusal.code, reply.status);
    // Bybit names the moment its limit resets (https://bybit-exchange.github.io/docs/v5/rate-limit).
    if (refusal.refusal_class == "rate_limited") {
        refusal.retry_after_ms = wait_until(reply_header(reply, "X-Bapi-Limit-Reset-Timestamp"), now_ms);
    }
    return refusal;
}

HttpResult Bybit::send(ExchangeSession& session, const std::string& method, const std::string& path,
                       const std::string& query, const std::string& body) const {
    const StoredCredential& c = session.credential;
    const auto build = [&](int64_t now) {
        const std::string timestamp = std::to_string(now);
        const std::string payload = method == "POST" ? body : query;
        HttpRequest request;
        request.method = method;
        request.url = session.base_url() + path + (query.empty() ? "" : "?" + query);
        request.headers = {"X-BAPI-API-KEY: " + c.api_key, "X-BAPI-TIMESTAMP: " + timestamp,
                           std::string("X-BAPI-RECV-WINDOW: ") + kRecvWindow,
                           "X-BAPI-SIGN: " + hmac_sha256_hex(c.api_secret, timestamp + c.api_key + kRecvWindow +
                                                                               payload)};
        if (method == "POST") request.headers.push_back("Content-Type: application/json");
        request.body = body;
        request.timeout_ms = session.timeout_ms();
        return request;
    };
    return send_with_recovery(session, build,
                              [](const HttpResult& reply) { return ret_code(reply) == "10002"; });
}

ValidateCredentialsResult Bybit::validate(const ValidateCredentialsRequest& request,
                                          ExchangeSession& session) const {
    const HttpResult reply = send(session, "GET", "/v5/user/query-api", "", "");
    const std::string checked_at = format_iso8601(session.clock.now_ms());
    if (!reply.ok()) {
        return error_result(request, "bybit request failed: " + trim(reply.body), checked_at);
    }
    const std::string& body = reply.body;
    if (!contains_any(body, {"\"retCode\":0", "\"retCode\": 0"})) {
        const auto refusal = read_refusal(reply, session.clock.now_ms());
        return refused_result(request, refusal ? refusal->refusal_class : "", trim(body), checked_at);
    }
    // Permission names such as "FiatP2POrder" appear on keys that cannot trade derivatives,
    // so a key the exchange marks read-only is never trade-ready.
    const bool read_only = contains_any(body, {"\"readOnly\":1", "\"readOnly\": 1"});
    const bool can_trade = !read_only && contains_any(body, {"Order", "order"});
    return success_result(request, can_trade, contains(body, "Withdraw"), "live bybit auth validated",
                          checked_at);
}

OperationResult Bybit::balance(ExchangeSession& session) const {
    return result_of(session, send(session, "GET", "/v5/account/wallet-balance", "accountType=UNIFIED", ""));
}

OperationResult Bybit::position(ExchangeSession& session, const std::string& symbol) const {
    return result_of(session,
                     send(session, "GET", "/v5/position/list",
                          "category=linear&symbol=" + linear_usdt_symbol(symbol) + "&settleCoin=USDT", ""));
}

OperationResult Bybit::order_status(ExchangeSession& session, const std::string& symbol,
                                    const std::string& order_id) const {
    return result_of(
        session, send(session, "GET", "/v5/order/realtime",
                      "category=linear&symbol=" + linear_usdt_symbol(symbol) + "&orderId=" + order_id, ""));
}

OperationResult Bybit::cancel_order(ExchangeSession& session, const std::string& symbol,
                                    const std::string& order_id) const {
    return result_of(session, send(session, "POST", "/v5/order/cancel", "",
                                   "{\"category\":\"linear\",\"symbol\":\"" + linear_usdt_symbol(symbol) +
                                       "\",\"orderId\":\"" + order_id + "\"}"));
}

// Reads the lookup of an order by its orderLinkId: listed -> found; an empty list -> not placed.
// https://bybit-exchange.github.io/docs/v5/order/open-order (recent 500 closed orders included)
OrderLookup read_lookup(const HttpResult& reply) {
    OrderLookup lookup{OrderFound::cannot_tell, reply};
    const auto body = parse_json(reply.body);
    if (!reply.ok() || !body || ret_code(reply) != "0") return lookup;
    const Json& list = json_member(json_member(*body, "result"), "list");
    if (!list.is_array()) return lookup;
    lookup.found = list.empty() ? OrderFound::no : OrderFound::yes;
    return lookup;
}

HttpResult Bybit::send_order(ExchangeSession& session, const OrderRequest& order, bool buy, bool reduce,
                             bool hedge, OrderTicket& ticket) const {
    // The position is the order's own side when it opens, the other side when it closes.
    const bool long_position = reduce ? !buy : buy;
    const std::string body = "{\"category\":\"linear\",\"symbol\":\"" + joined_symbol(order.symbol) +
                             "\",\"side\":\"" + (buy ? "Buy" : "Sell") + "\",\"orderType\":\"Limit\",\"qty\":\"" +
                             order.quantity + "\",\"price\":\"" + order.price +
                             "\",\"timeInForce\":\"GTC\",\"positionIdx\":" +
                             std::to_string(position_index(hedge, long_position)) +
                             (reduce ? ",\"reduceOnly\":true" : "") + ",\"orderLinkId\":\"" +
                             ticket.client_order_id + "\"}";
    const HttpResult reply = send(session, "POST", "/v5/order/create", "", body);
    const std::string query =
        "category=linear&symbol=" + joined_symbol(order.symbol) + "&orderLinkId=" + ticket.client_order_id;
    return settle_order(session, reply, ticket, [&] {
        const OrderLookup recent = read_lookup(send(session, "GET", "/v5/order/realtime", query, ""));
        // After a restart of Bybit's servers a filled or cancelled order is listed by the order
        // history alone: an empty recent list is asked there before the order counts as absent.
        return recent.found != OrderFound::no ? recent
                                              : read_lookup(send(session, "GET", "/v5/order/history", query, ""));
    });
}

ModeRules Bybit::mode_rules(ExchangeSession& session, const std::string& symbol) const {
    // A hedge-mode account lists a contract's two sides, index 1 and 2; a one-way account one
    // entry of index 0.
    const auto learn = [this, &session, symbol]() -> std::string {
        const HttpResult reply =
            send(session, "GET", "/v5/position/list", "category=linear&symbol=" + joined_symbol(symbol), "");
        const auto body = parse_json(reply.body);
        if (!reply.ok() || !body || ret_code(reply) != "0") return "";
        const Json& list = json_member(json_member(*body, "result"), "list");
        if (!list.is_array() || list.empty()) return "";
        for (const Json& entry : list) {
            const auto index = json_integer(json_member(entry, "positionIdx"));
            if (index == 1 || index == 2) return "hedge";
        }
        return "one_way";
    };
    return ModeRules{learn, refused_for_mode, "one_way"};
}

OperationResult Bybit::place_open(ExchangeSession& session, const OrderRequest& order, int leverage) const {
    const std::string lever = std::to_string(leverage);
    OrderTicket ticket{ticket_id(order.client_order_id, session.clock), ""};
    return with_ticket(in_position_mode(session, mode_rules(session, order.symbol), [&](bool hedge) {
        // A refused leverage stops the order, unless the position already has that leverage.
        const HttpResult leverage_reply =
            send(session, "POST", "/v5/position/set-leverage", "",
                 "{\"category\":\"linear\",\"symbol\":\"" + joined_symbol(order.symbol) +
                     "\",\"buyLeverage\":\"" + lever + "\",\"sellLeverage\":\"" + lever + "\"}");
        if (auto stop = leverage_refusal(session, leverage_reply, kLeverageNotModified)) {
            return ModeAttempt{*stop, leverage_reply};
        }
        const HttpResult order_reply = send_order(session, order, order.buy, false, hedge, ticket);
        return ModeAttempt{open_result(session, leverage_reply, order_reply), order_reply};
    }), ticket);
}

OperationResult Bybit::place_close(ExchangeSession& session, const OrderRequest& order) const {
    OrderTicket ticket{ticket_id(order.client_order_id, session.clock), ""};
    return with_ticket(in_position_mode(session, mode_rules(session, order.symbol), [&](bool hedge) {
        // Closing a long sells.
        const HttpResult reply = send_order(session, order, !order.buy, true, hedge, ticket);
        return ModeAttempt{result_of(session, reply), reply};
    }), ticket);
}

OperationResult Bybit::funding(ExchangeSession& session, const std::string& symbol, int lookback_minutes) const {
    // The transaction log answers seven days a request at most (a start alone gets 24 hours),
    // 50 entries a page followed by nextPageCursor, kept two years; trades share the log, so
    // settlements are asked for and kept.
    // https://bybit-exchange.github.io/docs/v5/account/transaction-log
    const FundingPlan plan =
        plan_funding(session.exchange_now_ms(), lookback_minutes, {7 * kDayMs, 730 * kDayMs});
    FundingPages pages;
    pages.list_pointer = "/result/list";
    pages.fetch = [&](const FundingWindow& window, const std::string& cursor) {
        return send(session, "GET", "/v5/account/transaction-log",
                    "category=linear&symbol=" + joined_symbol(symbol) + "&type=SETTLEMENT&startTime=" +
                        std::to_string(window.start_ms) + "&endTime=" + std::to_string(window.end_ms) +
                        "&limit=50" +
                        (cursor.empty() ? "" : "&cursor=" + cursor_in_query(cursor)),
                    "");
    };
    pages.accepted = [](const HttpResult& reply) { return ret_code(reply) == "0"; };
    pages.next_cursor = [](const Json& reply, const Json&) {
        const Json& next = json_member(json_member(reply, "result"), "nextPageCursor");
        return next.is_string() ? next.get<std::string>() : std::string();
    };
    pages.keep = [](const Json& entry) { return json_member(entry, "type") == "SETTLEMENT"; };
    pages.refusal = [this, &session](const HttpResult& reply) { return result_of(session, reply); };
    return gather_funding(plan, pages);
}

OperationResult Bybit::close_report(ExchangeSession& session, const std::string& symbol,
                                    const std::string& order_id) const {
    const std::string native = joined_symbol(symbol);
    const HttpResult order =
        send(session, "GET", "/v5/order/realtime",
             "category=linear&symbol=" + native + (order_id.empty() ? "" : "&orderId=" + order_id), "");
    const HttpResult pnl = send(session, "GET", "/v5/position/closed-pnl",
                                "category=linear&symbol=" + native + "&limit=20", "");
    return result_of(session, {{"order", &order}, {"closed_pnl", &pnl}});
}

ContractInfo Bybit::contract_info(ExchangeSession& session, const std::string& symbol) const {
    const HttpResult reply = session.http.send(public_get(
        session, session.base_url() + "/v5/market/instruments-info?category=linear&symbol=" + joined_symbol(symbol)));
    // https://bybit-exchange.github.io/docs/v5/market/instrument: base-coin quantities.
    return contract_from_reply(reply, [](const Json& body, ContractRules& rules) {
        const Json& list = json_member(json_member(body, "result"), "list");
        if (!list.is_array() || list.empty()) return false;
        const Json& item = list[0];
        rules.contract_currency = json_decimal(json_member(item, "baseCoin"));
        rules.min_quantity = json_decimal(json_member(json_member(item, "lotSizeFilter"), "minOrderQty"));
        rules.quantity_step = json_decimal(json_member(json_member(item, "lotSizeFilter"), "qtyStep"));
        rules.price_tick = json_decimal(json_member(json_member(item, "priceFilter"), "tickSize"));
        rules.max_leverage = json_decimal(json_member(json_member(item, "leverageFilter"), "maxLeverage"));
        return !rules.contract_currency.empty();
    });
}

std::optional<int64_t> Bybit::server_time_ms(ExchangeSession& session) const {
    return read_server_clock(session, session.base_url() + "/v5/market/time", "/result/timeNano", 1000000);
}

}  // namespace

const ExchangeAdapter& bybit_adapter() {
    static const Bybit adapter;
    return adapter;
}

}  // namespace korvane::connector
