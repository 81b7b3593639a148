// BingX perpetual swap: HMAC-SHA256 hex over the query string, which carries the timestamp and
// ends with the signature; the key travels in a header.
#include "connector/exchanges/exchange_adapter.h"
#include "connector/exchanges/funding_windows.h"
#include "connector/exchanges/order_outcome.h"
#include "connector/exchanges/probe_output.h"
#include "connector/exchanges/symbols.h"
#include "connector/exchanges/credential_check.h"
#include "connector/toolkit/digest.h"
#include "connector/toolkit/text.h"

namespace korvane::connector {
namespace {

// BingX answers a timestamp outside its window with this code.
constexpr const char* kStaleTimestamp = "100421";

// Fills are looked up over the last week, the longest window BingX serves in one request.
constexpr int64_t kFillWindowMs = 7 * kDayMs;

// BingX's documented refusal codes, https://bingx-api.github.io/docs/#/en-us/swapV2/base-info.html
// ("Common business error codes"); a rate-limited request is answered with HTTP 429.
const std::vector<RefusalCode> kRefusals = {
    {"100001", "credentials"},     {"100413", "credentials"},         {"100412", "credentials"},
    {"100419", "ip_not_allowed"},  {"100421", "timestamp"},           {"100004", "permission"},
    {"100410", "rate_limited"},    {"101204", "insufficient_margin"}, {"80016", "not_found"},
    {"109400", "invalid_request"}, {"80014", "invalid_request"},      {"100400", "invalid_request"},
};

std::string bingx_code(const HttpResult& reply) {
    return reply_code(reply, "code");
}

// BingX refuses a position side that does not fit the account's mode as invalid parameters,
// naming the position side.
bool refused_for_mode(const HttpResult& reply) {
    const std::string code = bingx_code(reply);
    return !code.empty() && code != "0" &&
           (contains(reply.body, "positionSide") || contains(reply.body, "position mode"));
}

// In hedge mode the side is the position's own (LONG or SHORT); in one-way mode it is BOTH.
std::string position_side(bool hedge, bool long_position) {
    return hedge ? (long_position ? "LONG" : "SHORT") : "BOTH";
}

class Bingx final : public ExchangeAdapter {
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
    HttpResult send_order(ExchangeSession& session, const OrderRequest& order, bool buy, bool reduce,
                          bool hedge, OrderTicket& ticket) const;
    ModeRules mode_rules(ExchangeSession& session) const;
    // Signs and sends one request; `params` are the query parameters before the timestamp,
    // each followed by "&" (or empty).
    HttpResult send(ExchangeSession& session, const std::string& method, const std::string& path,
                    const std::string& params) const;
};

std::optional<Refusal> Bingx::read_refusal(const HttpResult& reply, int64_t) const {
    const std::string code = bingx_code(reply);
    if (code == "0" || (code.empty() && reply.status < 400)) return std::nullopt;
    Refusal refusal;
    refusal.code = code.empty() ? std::to_string(reply.status) : code;
    refusal.message = reply_code(reply, "msg");
    refusal.refusal_class = classify_refusal(kRefusals, refusal.code, reply.status);
    return refusal;
}

HttpResult Bingx::send(ExchangeSession& session, const std::string& method, const std::string& path,
                       const std::string& params) const {
    const StoredCredential& c = session.credential;
    const auto build = [&](int64_t now) {
        const std::string query = params + "timestamp=" + std::to_string(now);
        HttpRequest request;
        request.method = method;
        request.url = session.base_url() + path + "?" + query + "&signature=" + hmac_sha256_hex(c.api_secret, query);
        request.headers = {"X-BX-APIKEY: " + c.api_key};
        request.timeout_ms = session.timeout_ms();
        return request;
    };
    return send_with_recovery(session, build,
                              [](const HttpResult& reply) { return bingx_code(reply) == kStaleTimestamp; });
}

ValidateCredentialsResult Bingx::validate(const ValidateCredentialsRequest& request,
                                          ExchangeSession& session) const {
    const std::string checked_at = format_iso8601(session.clock.now_ms());
    ProbeReport report;
    std::string refusal_class;
    // Both balance paths and the key's permissions are asked together: none waits for another.
    const char* const paths[] = {"/openApi/swap/v3/user/balance", "/openApi/swap/v2/user/balance",
                                 "/openApi/v1/account/apiPermissions"};
    std::vector<std::function<HttpResult(ExchangeSession&)>> attempts;
    for (const char* path : paths) {
        attempts.push_back([this, path](ExchangeSession& own) { return send(own, "GET", path, ""); });
    }
    const std::vector<HttpResult> replies = side_by_side(session, attempts);
    for (size_t i = 0; i < 2; ++i) {
        note_refusal(refusal_class, read_refusal(replies[i], session.clock.now_ms()));
        report.add({{"path", paths[i]}, {"body", probe_body(replies[i])}});
    }
    const std::string output = report.str();
    if (!contains_any(output, {"\"code\":0", "\"code\": 0", "\\\"code\\\":0", "\\\"code\\\": 0",
                               "\"balance\"", "\"equity\"", "availableMargin"})) {
        return refused_result(request, refusal_class, output, checked_at);
    }
    // The key's own permissions: futures trading and withdrawals
    // (https://bingx-api.github.io/docs/#/en-us/common/account-api.html, "Query API Key Permissions").
    KeyPermissions permissions;
    const HttpResult& reply = replies[2];
    if (const auto body = parse_json(reply.body); body && reply.ok() && bingx_code(reply) == "0") {
        const Json& data = json_member(*body, "data");
        if (const Json& futures = json_member(data, "enableFutures"); futures.is_boolean()) {
            permissions.trade = futures.get<bool>();
        }
        if (const Json& withdrawals = json_member(data, "enableWithdrawals"); withdrawals.is_boolean()) {
            permissions.withdraw = withdrawals.get<bool>();
        }
    }
    return permitted_result(request, permissions, checked_at);
}

OperationResult Bingx::balance(ExchangeSession& session) const {
    return result_of(session, send(session, "GET", "/openApi/swap/v2/user/balance", ""));
}

OperationResult Bingx::position(ExchangeSession& session, const std::string& symbol) const {
    return result_of(session, send(session, "GET", "/openApi/swap/v2/user/positions",
                                   "symbol=" + dashed_symbol(symbol) + "&"));
}

OperationResult Bingx::order_status(ExchangeSession& session, const std::string& symbol,
                                    const std::string& order_id) const {
    return result_of(session, send(session, "GET", "/openApi/swap/v2/trade/order",
                                   "symbol=" + dashed_symbol(symbol) + "&orderId=" + order_id + "&"));
}

OperationResult Bingx::cancel_order(ExchangeSession& session, const std::string& symbol,
                                    const std::string& order_id) const {
    return result_of(session, send(session, "DELETE", "/openApi/swap/v2/trade/order",
                                   "symbol=" + dashed_symbol(symbol) + "&orderId=" + order_id + "&"));
}

ModeRules Bingx::mode_rules(ExchangeSession& session) const {
    const auto learn = [this, &session]() -> std::string {
        const HttpResult reply = send(session, "GET", "/openApi/swap/v1/positionSide/dual", "");
        const auto body = parse_json(reply.body);
        if (!reply.ok() || !body || bingx_code(reply) != "0") return "";
        const Json& dual = json_member(json_member(*body, "data"), "dualSidePosition");
        if (dual == true || dual == "true") return "hedge";
        if (dual == false || dual == "false") return "one_way";
        return "";
    };
    return ModeRules{learn, refused_for_mode, "hedge"};
}

// Reads the lookup of an order by its clientOrderID: code 0 with the order -> found; 80016 "order
// does not exist" -> not placed.
// https://bingx-api.github.io/docs/#/en-us/swapV2/trade-api.html#Query%20Order%20details
OrderLookup read_lookup(const HttpResult& reply) {
    OrderLookup lookup{OrderFound::cannot_tell, reply};
    const auto body = parse_json(reply.body);
    if (!reply.ok() || !body) return lookup;
    if (bingx_code(reply) == "80016") lookup.found = OrderFound::no;
    if (bingx_code(reply) == "0" && json_member(json_member(*body, "data"), "order").is_object()) {
        lookup.found = OrderFound::yes;
    }
    return lookup;
}

HttpResult Bingx::send_order(ExchangeSession& session, const OrderRequest& order, bool buy, bool reduce,
                             bool hedge, OrderTicket& ticket) const {
    // The position is the order's own side when it opens, the other side when it closes; in
    // one-way mode a close is marked reduce-only instead.
    const bool long_position = reduce ? !buy : buy;
    const HttpResult reply =
        send(session, "POST", "/openApi/swap/v2/trade/order",
             "symbol=" + dashed_symbol(order.symbol) + "&side=" + (buy ? "BUY" : "SELL") + "&positionSide=" +
                 position_side(hedge, long_position) + "&type=LIMIT&quantity=" + order.quantity + "&price=" +
                 order.price + "&timeInForce=GTC&" + (reduce && !hedge ? "reduceOnly=true&" : "") +
                 "clientOrderID=" + ticket.client_order_id + "&");
    return settle_order(session, reply, ticket, [&] {
        return read_lookup(send(session, "GET", "/openApi/swap/v2/trade/order",
                                "symbol=" + dashed_symbol(order.symbol) +
                                    "&clientOrderId=" + ticket.client_order_id + "&"));
    });
}

OperationResult Bingx::place_open(ExchangeSession& session, const OrderRequest& order, int leverage) const {
    OrderTicket ticket{ticket_id(order.client_order_id, session.clock), ""};
    return with_ticket(in_position_mode(session, mode_rules(session), [&](bool hedge) {
        // Hedge mode keeps a leverage per side: the side this order opens is the one set.
        const HttpResult leverage_reply =
            send(session, "POST", "/openApi/swap/v2/trade/leverage",
                 "symbol=" + dashed_symbol(order.symbol) + "&side=" + position_side(hedge, order.buy) +
                     "&leverage=" + std::to_string(leverage) + "&");
        if (auto stop = leverage_refusal(session, leverage_reply)) return ModeAttempt{*stop, leverage_reply};
        const HttpResult order_reply = send_order(session, order, order.buy, false, hedge, ticket);
        return ModeAttempt{open_result(session, leverage_reply, order_reply), order_reply};
    }), ticket);
}

OperationResult Bingx::place_close(ExchangeSession& session, const OrderRequest& order) const {
    OrderTicket ticket{ticket_id(order.client_order_id, session.clock), ""};
    return with_ticket(in_position_mode(session, mode_rules(session), [&](bool hedge) {
        const HttpResult reply = send_order(session, order, !order.buy, true, hedge, ticket);
        return ModeAttempt{result_of(session, reply), reply};
    }), ticket);
}

OperationResult Bingx::funding(ExchangeSession& session, const std::string& symbol, int lookback_minutes) const {
    // Income of type FUNDING_FEE between startTime and endTime, up to 1000 entries, kept three
    // months; asked a week at a time, far below a full answer.
    // https://bingx-api.github.io/docs/#/en-us/swapV2/account-api.html#Get%20Fund%20Flow
    const FundingPlan plan =
        plan_funding(session.exchange_now_ms(), lookback_minutes, {7 * kDayMs, 90 * kDayMs});
    FundingPages pages;
    pages.list_pointer = "/data";
    pages.fetch = [&](const FundingWindow& window, const std::string&) {
        return send(session, "GET", "/openApi/swap/v2/user/income",
                    "symbol=" + dashed_symbol(symbol) + "&incomeType=FUNDING_FEE&startTime=" +
                        std::to_string(window.start_ms) + "&endTime=" + std::to_string(window.end_ms) +
                        "&limit=1000&");
    };
    pages.accepted = [](const HttpResult& reply) { return bingx_code(reply) == "0"; };
    pages.next_cursor = [](const Json&, const Json&) { return std::string(); };
    pages.refusal = [this, &session](const HttpResult& reply) { return result_of(session, reply); };
    return gather_funding(plan, pages);
}

OperationResult Bingx::close_report(ExchangeSession& session, const std::string& symbol,
                                    const std::string& order_id) const {
    const std::string mapped = dashed_symbol(symbol);
    HttpResult order{0, "{}", 200};
    if (!order_id.empty()) {
        order = send(session, "GET", "/openApi/swap/v2/trade/order",
                     "symbol=" + mapped + "&orderId=" + order_id + "&");
    }
    const int64_t now = session.exchange_now_ms();
    const HttpResult trades =
        send(session, "GET", "/openApi/swap/v2/trade/allFillOrders",
             "symbol=" + mapped + (order_id.empty() ? "" : "&orderId=" + order_id) +
                 "&tradingUnit=COIN&startTs=" + std::to_string(now - kFillWindowMs) + "&endTs=" + std::to_string(now) +
                 "&");
    return result_of(session, {{"order", &order}, {"trades", &trades}});
}

ContractInfo Bingx::contract_info(ExchangeSession& session, const std::string& symbol) const {
    const std::string native = dashed_symbol(symbol);
    const HttpResult reply =
        session.http.send(public_get(session, session.base_url() + "/openApi/swap/v2/quote/contracts?symbol=" + native));
    // https://bingx-api.github.io/docs/#/en-us/swapV2/market-api.html: precisions, not steps.
    return contract_from_reply(reply, [&native](const Json& body, ContractRules& rules) {
        const Json& data = json_member(body, "data");
        if (!data.is_array()) return false;
        for (const Json& item : data) {
            if (json_member(item, "symbol") != native) continue;
            rules.contract_currency = json_decimal(json_member(item, "asset"));
            rules.min_quantity = json_decimal(json_member(item, "tradeMinQuantity"));
            const auto quantity_places = json_integer(json_member(item, "quantityPrecision"));
            const auto price_places = json_integer(json_member(item, "pricePrecision"));
            rules.quantity_step = quantity_places ? step_of_places(static_cast<int>(*quantity_places)) : "";
            rules.price_tick = price_places ? step_of_places(static_cast<int>(*price_places)) : "";
            rules.max_leverage = json_decimal(json_member(item, "maxLongLeverage"));
            return true;
        }
        return false;
    });
}

std::optional<int64_t> Bingx::server_time_ms(ExchangeSession& session) const {
    return read_server_clock(session, session.base_url() + "/openApi/swap/v2/server/time", "/data/serverTime");
}

}  // namespace

const ExchangeAdapter& bingx_adapter() {
    static const Bingx adapter;
    return adapter;
}

}  // namespace korvane::connector
