// Bitget v2 mix: Base64 HMAC-SHA256 over timestamp + method + path (+ "?" query) + body, with
// the plain passphrase in a header.
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

// Bitget's documented refusal codes, https://www.bitget.com/api-doc/common/error-code.
const std::vector<RefusalCode> kRefusals = {
    {"40006", "credentials"},         {"40009", "credentials"},     {"40012", "credentials"},
    {"40037", "credentials"},         {"40008", "timestamp"},       {"40014", "permission"},
    {"40018", "ip_not_allowed"},      {"429", "rate_limited"},      {"40762", "insufficient_margin"},
    {"43012", "insufficient_margin"}, {"40109", "not_found"},       {"43001", "not_found"},
    {"40768", "not_found"},           {"40774", "position_mode"},   {"400172", "position_mode"},
    {"40019", "invalid_request"},     {"40034", "invalid_request"},
};

std::string bitget_code(const HttpResult& reply) {
    return reply_code(reply, "code");
}

// The account request names the client as the exchange's documentation asks.
const std::vector<std::string> kChannelHeaders = {"locale: en-US", "X-CHANNEL-API-CODE: qwvtz"};

class Bitget final : public ExchangeAdapter {
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
    // Reads what the key may do from `info` (the account information's authorities), else (they are
    // refused to some futures-only keys) by a cancel of an order id no order has.
    KeyPermissions permissions(ExchangeSession& session, const HttpResult& info) const;
    HttpResult send_order(ExchangeSession& session, const OrderRequest& order, bool buy, bool reduce,
                          bool hedge, OrderTicket& ticket) const;
    ModeRules mode_rules(ExchangeSession& session, const std::string& symbol) const;
    // Signs and sends one request; `query` excludes the "?".
    HttpResult send(ExchangeSession& session, const std::string& method, const std::string& path,
                    const std::string& query, const std::string& body,
                    const std::vector<std::string>& extra_headers = {}) const;
};

std::optional<Refusal> Bitget::read_refusal(const HttpResult& reply, int64_t) const {
    const std::string code = bitget_code(reply);
    if (code == "00000" || (code.empty() && reply.status < 400)) return std::nullopt;
    Refusal refusal;
    refusal.code = code.empty() ? std::to_string(reply.status) : code;
    refusal.message = reply_code(reply, "msg");
    refusal.refusal_class = classify_refusal(kRefusals, refusal.code, reply.status);
    return refusal;
}

HttpResult Bitget::send(ExchangeSession& session, const std::string& method, const std::string& path,
                        const std::string& query, const std::string& body,
                        const std::vector<std::string>& extra_headers) const {
    const StoredCredential& c = session.credential;
    const std::string target = path + (query.empty() ? "" : "?" + query);
    const auto build = [&](int64_t now) {
        const std::string timestamp = std::to_string(now);
        HttpRequest request;
        request.method = method;
        request.url = session.base_url() + target;
        request.headers = {"ACCESS-KEY: " + c.api_key,
                           "ACCESS-SIGN: " + hmac_sha256_base64(c.api_secret, timestamp + method + target + body),
                           "ACCESS-TIMESTAMP: " + timestamp, "ACCESS-PASSPHRASE: " + c.passphrase,
                           "Content-Type: application/json"};
        request.headers.insert(request.headers.end(), extra_headers.begin(), extra_headers.end());
        request.body = body;
        request.timeout_ms = session.timeout_ms();
        return request;
    };
    return send_with_recovery(session, build,
                              [](const HttpResult& reply) { return bitget_code(reply) == "40008"; });
}

ValidateCredentialsResult Bitget::validate(const ValidateCredentialsRequest& request,
                                           ExchangeSession& session) const {
    const std::string checked_at = format_iso8601(session.clock.now_ms());
    if (request.credential.passphrase.empty()) {
        return invalid_result(request, "bitget passphrase missing", checked_at);
    }
    // The account and the key's authorities are asked together: neither waits for the other.
    const std::vector<std::function<HttpResult(ExchangeSession&)>> attempts = {
        [this](ExchangeSession& own) {
            return send(own, "GET", "/api/v2/mix/account/accounts", "productType=USDT-FUTURES", "", kChannelHeaders);
        },
        [this](ExchangeSession& own) { return send(own, "GET", "/api/v2/spot/account/info", "", ""); },
    };
    const std::vector<HttpResult> replies = side_by_side(session, attempts);
    const HttpResult& reply = replies[0];
    const std::string output = trim(probe_body(reply));
    if (output.empty()) return error_result(request, "failed to execute bitget validation probe", checked_at);
    if (!contains_any(output,
                      {"\"code\":\"00000\"", "\"available\"", "\"marginCoin\"", "\"accountEquity\""})) {
        const auto refusal = read_refusal(reply, session.clock.now_ms());
        return refused_result(request, refusal ? refusal->refusal_class : "", output, checked_at);
    }
    return permitted_result(request, permissions(session, replies[1]), checked_at);
}

KeyPermissions Bitget::permissions(ExchangeSession& session, const HttpResult& info) const {
    // Authorities name what the key may do: contract orders and positions written ("coow",
    // "cpow") and withdrawals ("wwow"), https://www.bitget.com/api-doc/spot/account/Get-Account-Info
    KeyPermissions permissions;
    if (const auto body = parse_json(info.body);
        body && info.ok() && bitget_code(info) == "00000") {
        const Json& authorities = json_member(json_member(*body, "data"), "authorities");
        if (authorities.is_array()) {
            const auto has = [&authorities](const char* name) {
                for (const Json& entry : authorities) {
                    if (entry == name) return true;
                }
                return false;
            };
            permissions.trade = has("coow") || has("cpow");
            permissions.withdraw = has("wwow");
            return permissions;
        }
    }
    // Cancelling an order that does not exist changes nothing and says whether the key may trade.
    const HttpResult probe =
        send(session, "POST", "/api/v2/mix/order/cancel-order", "",
             "{\"symbol\":\"BTCUSDT\",\"productType\":\"USDT-FUTURES\",\"orderId\":\"0\"}");
    if (const auto refusal = read_refusal(probe, session.clock.now_ms())) {
        if (refusal->refusal_class == "not_found") permissions.trade = true;
        if (refusal->refusal_class == "permission") permissions.trade = false;
    }
    return permissions;
}

OperationResult Bitget::balance(ExchangeSession& session) const {
    return result_of(session, send(session, "GET", "/api/v2/mix/account/accounts", "productType=USDT-FUTURES",
                                   "", kChannelHeaders));
}

OperationResult Bitget::position(ExchangeSession& session, const std::string& symbol) const {
    return result_of(
        session,
        send(session, "GET", "/api/v2/mix/position/single-position",
             "symbol=" + linear_usdt_symbol(symbol) + "&productType=USDT-FUTURES&marginCoin=USDT", ""));
}

OperationResult Bitget::order_status(ExchangeSession& session, const std::string& symbol,
                                     const std::string& order_id) const {
    return result_of(
        session,
        send(session, "GET", "/api/v2/mix/order/detail",
             "symbol=" + linear_usdt_symbol(symbol) + "&productType=USDT-FUTURES&orderId=" + order_id, ""));
}

OperationResult Bitget::cancel_order(ExchangeSession& session, const std::string& symbol,
                                     const std::string& order_id) const {
    return result_of(session,
                     send(session, "POST", "/api/v2/mix/order/cancel-order", "",
                          "{\"symbol\":\"" + linear_usdt_symbol(symbol) +
                              "\",\"productType\":\"USDT-FUTURES\",\"orderId\":\"" + order_id + "\"}"));
}

// Bitget refuses an order whose trade side does not fit a one-way account with 40774, and one
// without the trade side a hedge account needs as an empty parameter.
bool refused_for_mode(const HttpResult& reply) {
    const std::string code = bitget_code(reply);
    return code == "40774" || (code == "40019" && contains(reply.body, "tradeSide"));
}

// Everything Bitget is asked about here is a USDT-margined perpetual.
std::string product_fields(const std::string& symbol) {
    return "\"symbol\":\"" + linear_usdt_symbol(symbol) + "\",\"productType\":\"USDT-FUTURES\",\"marginCoin\":\"USDT\"";
}

ModeRules Bitget::mode_rules(ExchangeSession& session, const std::string& symbol) const {
    const auto learn = [this, &session, symbol]() -> std::string {
        const HttpResult reply =
            send(session, "GET", "/api/v2/mix/account/account",
                 "symbol=" + linear_usdt_symbol(symbol) + "&productType=USDT-FUTURES&marginCoin=USDT", "");
        const auto body = parse_json(reply.body);
        if (!reply.ok() || !body || bitget_code(reply) != "00000") return "";
        const std::string mode = find_string_member(*body, "posMode");
        return mode == "hedge_mode" ? "hedge" : mode == "one_way_mode" ? "one_way" : "";
    };
    return ModeRules{learn, refused_for_mode, "hedge"};
}

// Reads the lookup of an order by its clientOid: code "00000" with the order -> found; 40109 "the
// order cannot be found" -> not placed.
// https://www.bitget.com/api-doc/contract/trade/Get-Order-Details
OrderLookup read_lookup(const HttpResult& reply) {
    OrderLookup lookup{OrderFound::cannot_tell, reply};
    const auto body = parse_json(reply.body);
    if (!reply.ok() || !body) return lookup;
    if (bitget_code(reply) == "40109") lookup.found = OrderFound::no;
    if (bitget_code(reply) == "00000" && json_member(*body, "data").is_object()) {
        lookup.found = OrderFound::yes;
    }
    return lookup;
}

HttpResult Bitget::send_order(ExchangeSession& session, const OrderRequest& order, bool buy, bool reduce,
                              bool hedge, OrderTicket& ticket) const {
    // Hedge mode names the position's direction and whether the order opens or closes it: a
    // close of a long is "buy" with "close". One-way mode names the trade's direction and marks
    // a close reduce-only.
    const bool long_position = reduce ? !buy : buy;
    const std::string side = hedge ? (long_position ? "buy" : "sell") : (buy ? "buy" : "sell");
    const std::string mode_fields = hedge ? std::string(",\"tradeSide\":\"") + (reduce ? "close" : "open") + "\""
                                          : (reduce ? ",\"reduceOnly\":\"YES\"" : "");
    const std::string body = "{" + product_fields(order.symbol) + ",\"marginMode\":\"isolated\",\"size\":\"" +
                             order.quantity + "\",\"price\":\"" + order.price + "\",\"side\":\"" + side + "\"" +
                             mode_fields + ",\"orderType\":\"limit\",\"force\":\"gtc\",\"clientOid\":\"" +
                             ticket.client_order_id + "\"}";
    const HttpResult reply = send(session, "POST", "/api/v2/mix/order/place-order", "", body);
    return settle_order(session, reply, ticket, [&] {
        return read_lookup(send(session, "GET", "/api/v2/mix/order/detail",
                                "symbol=" + linear_usdt_symbol(order.symbol) +
                                    "&productType=USDT-FUTURES&clientOid=" + ticket.client_order_id,
                                ""));
    });
}

OperationResult Bitget::place_open(ExchangeSession& session, const OrderRequest& order, int leverage) const {
    OrderTicket ticket{ticket_id(order.client_order_id, session.clock), ""};
    return with_ticket(in_position_mode(session, mode_rules(session, order.symbol), [&](bool hedge) {
        // Hedge mode keeps a leverage per side: the side this order opens is the one set.
        const std::string hold_side =
            hedge ? std::string(",\"holdSide\":\"") + (order.buy ? "long" : "short") + "\"" : "";
        const HttpResult leverage_reply =
            send(session, "POST", "/api/v2/mix/account/set-leverage", "",
                 "{" + product_fields(order.symbol) + ",\"leverage\":\"" + std::to_string(leverage) + "\"" +
                     hold_side + "}");
        if (auto stop = leverage_refusal(session, leverage_reply)) return ModeAttempt{*stop, leverage_reply};
        const HttpResult order_reply = send_order(session, order, order.buy, false, hedge, ticket);
        return ModeAttempt{open_result(session, leverage_reply, order_reply), order_reply};
    }), ticket);
}

OperationResult Bitget::place_close(ExchangeSession& session, const OrderRequest& order) const {
    OrderTicket ticket{ticket_id(order.client_order_id, session.clock), ""};
    return with_ticket(in_position_mode(session, mode_rules(session, order.symbol), [&](bool hedge) {
        const HttpResult reply = send_order(session, order, !order.buy, true, hedge, ticket);
        return ModeAttempt{result_of(session, reply), reply};
    }), ticket);
}

OperationResult Bitget::funding(ExchangeSession& session, const std::string& symbol, int lookback_minutes) const {
    // Settlement-fee bills between startTime and endTime (30 days apart at most), 100 a page;
    // the next page is the bills older than the reply's endId; kept 90 days.
    // https://www.bitget.com/api-doc/contract/account/Get-Account-Bill
    const FundingPlan plan =
        plan_funding(session.exchange_now_ms(), lookback_minutes, {30 * kDayMs, 90 * kDayMs});
    FundingPages pages;
    pages.list_pointer = "/data/bills";
    pages.fetch = [&](const FundingWindow& window, const std::string& cursor) {
        return send(session, "GET", "/api/v2/mix/account/bill",
                    "productType=USDT-FUTURES&symbol=" + linear_usdt_symbol(symbol) +
                        "&businessType=contract_settle_fee&startTime=" + std::to_string(window.start_ms) +
                        "&endTime=" + std::to_string(window.end_ms) + "&limit=100" +
                        (cursor.empty() ? "" : "&idLessThan=" + cursor_in_query(cursor)),
                    "");
    };
    pages.accepted = [](const HttpResult& reply) { return bitget_code(reply) == "00000"; };
    pages.next_cursor = [](const Json& reply, const Json& list) {
        const Json& end = json_member(json_member(reply, "data"), "endId");
        return list.size() >= 100 && end.is_string() ? end.get<std::string>() : std::string();
    };
    pages.refusal = [this, &session](const HttpResult& reply) { return result_of(session, reply); };
    return gather_funding(plan, pages);
}

OperationResult Bitget::close_report(ExchangeSession& session, const std::string& symbol,
                                     const std::string& order_id) const {
    const std::string product = "symbol=" + linear_usdt_symbol(symbol) + "&productType=USDT-FUTURES";
    HttpResult order{0, "{}", 200};
    if (!order_id.empty()) {
        order = send(session, "GET", "/api/v2/mix/order/detail", product + "&orderId=" + order_id, "");
    }
    const HttpResult trades = send(session, "GET", "/api/v2/mix/order/fills",
                                   product + (order_id.empty() ? "" : "&orderId=" + order_id), "");
    return result_of(session, {{"order", &order}, {"trades", &trades}});
}

ContractInfo Bitget::contract_info(ExchangeSession& session, const std::string& symbol) const {
    const HttpResult reply = session.http.send(
        public_get(session, session.base_url() + "/api/v2/mix/market/contracts?productType=USDT-FUTURES&symbol=" +
                                linear_usdt_symbol(symbol)));
    // https://www.bitget.com/api-doc/contract/market/Get-All-Symbols-Contracts: the price step is
    // priceEndStep in the last of pricePlace decimals.
    return contract_from_reply(reply, [](const Json& body, ContractRules& rules) {
        const Json& data = json_member(body, "data");
        if (!data.is_array() || data.empty()) return false;
        const Json& item = data[0];
        rules.contract_currency = json_decimal(json_member(item, "baseCoin"));
        rules.min_quantity = json_decimal(json_member(item, "minTradeNum"));
        rules.quantity_step = json_decimal(json_member(item, "sizeMultiplier"));
        const auto places = json_integer(json_member(item, "pricePlace"));
        const std::string end_step = json_decimal(json_member(item, "priceEndStep"));
        if (places && !end_step.empty()) {
            rules.price_tick = *places > 0 ? "0." + std::string(static_cast<size_t>(*places - 1), '0') + end_step
                                          : end_step;
        }
        rules.max_leverage = json_decimal(json_member(item, "maxLever"));
        return !rules.contract_currency.empty();
    });
}

std::optional<int64_t> Bitget::server_time_ms(ExchangeSession& session) const {
    return read_server_clock(session, session.base_url() + "/api/v2/public/time", "/data/serverTime");
}

}  // namespace

const ExchangeAdapter& bitget_adapter() {
    static const Bitget adapter;
    return adapter;
}

}  // namespace korvane::connector
