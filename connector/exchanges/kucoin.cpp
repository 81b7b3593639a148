// KuCoin futures: Base64 HMAC-SHA256 over timestamp + method + path with query + body; the
// passphrase is signed too, and the key version says how.
#include "connector/exchanges/exchange_adapter.h"
#include "connector/exchanges/funding_windows.h"
#include "connector/exchanges/order_outcome.h"
#include "connector/exchanges/input_checks.h"
#include "connector/exchanges/probe_output.h"
#include "connector/exchanges/symbols.h"
#include "connector/exchanges/credential_check.h"
#include "connector/state/random_hex.h"
#include "connector/toolkit/digest.h"
#include "connector/toolkit/text.h"

namespace korvane::connector {
namespace {

constexpr const char* kSuccess = "200000";
constexpr const char* kKeyRefused = "400003";
constexpr const char* kPassphraseRefused = "400004";
// A funding window reaches back at most a week in one request.
constexpr int64_t kMaxFundingWindowMs = 7 * kDayMs;

// KuCoin's documented refusal codes, https://www.kucoin.com/docs/errors/http (gateway codes)
// and https://www.kucoin.com/docs/errors/futures-errors-code.
const std::vector<RefusalCode> kRefusals = {
    {"400001", "credentials"},         {"400003", "credentials"},     {"400004", "credentials"},
    {"400005", "credentials"},         {"400002", "timestamp"},       {"400006", "ip_not_allowed"},
    {"400007", "permission"},          {"411100", "permission"},      {"429000", "rate_limited"},
    {"300003", "insufficient_margin"}, {"400100", "invalid_request"}, {"330005", "margin_mode"},
    {"330011", "position_mode"},
};

std::string kucoin_code(const HttpResult& reply) {
    return reply_code(reply, "code");
}

// Returns true for an answer to a key the exchange accepted.
bool accepted(std::string_view body) {
    return contains_any(body, {"\"code\":\"200000\"", "\"availableBalance\"", "\"accountEquity\""});
}

class Kucoin final : public ExchangeAdapter {
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
    Status check_quantity(const std::string& quantity) const override;
    std::optional<Refusal> read_refusal(const HttpResult& reply, int64_t now_ms) const override;

  private:
    // Signs and sends one request with key version `version` to `site`; `target` is the path
    // with its query.
    HttpResult send_version(ExchangeSession& session, const std::string& method, const std::string& target,
                            const std::string& body, const std::string& version,
                            const std::vector<std::string>& extra_headers,
                            const char* site = "futures") const;
    // Signs and sends one request with the key version the key accepts: the remembered one, else
    // version 2 and, when the key is refused for its passphrase, version 3.
    HttpResult send(ExchangeSession& session, const std::string& method, const std::string& target,
                    const std::string& body = "") const;
    HttpResult send_order(ExchangeSession& session, const OrderRequest& order, bool buy, bool reduce, bool hedge,
                          const std::string& leverage, bool cross, OrderTicket& ticket) const;
    // Returns the contract's margin mode as the exchange keeps it ("cross", "isolated"), and
    // remembers it; empty when the exchange does not say.
    std::string learn_margin_mode(ExchangeSession& session, const std::string& native) const;
    // Runs `attempt` in the contract's margin mode (remembered, else learned, else isolated). When
    // the exchange refuses the order for its margin mode (`last_order`), the mode is learned again
    // and, when it changed, the attempt runs once more: a refused order was not placed.
    OperationResult in_margin_mode(ExchangeSession& session, const std::string& native,
                                   const HttpResult& last_order,
                                   const std::function<OperationResult(bool cross)>& attempt) const;
    ModeRules mode_rules(ExchangeSession& session) const;
};

std::optional<Refusal> Kucoin::read_refusal(const HttpResult& reply, int64_t) const {
    const std::string code = kucoin_code(reply);
    if (code == kSuccess || (code.empty() && reply.status < 400)) return std::nullopt;
    Refusal refusal;
    refusal.code = code.empty() ? std::to_string(reply.status) : code;
    refusal.message = reply_code(reply, "msg");
    refusal.refusal_class = classify_refusal(kRefusals, refusal.code, reply.status);
    // KuCoin says how many milliseconds remain until its limit resets,
    // https://www.kucoin.com/docs/basic-info/request-rate-limit/rest-api
    if (refusal.refusal_class == "rate_limited") {
        if (const auto reset = json_integer(Json(reply_header(reply, "gw-ratelimit-reset")));
            reset && *reset >= 0) {
            refusal.retry_after_ms = *reset;
        }
    }
    return refusal;
}

HttpResult Kucoin::send_version(ExchangeSession& session, const std::string& method,
                                const std::string& target, const std::string& body,
                                const std::string& version, const std::vector<std::string>& extra_headers,
                                const char* site) const {
    const StoredCredential& c = session.credential;
    const auto build = [&](int64_t now) {
        const std::string timestamp = std::to_string(now);
        HttpRequest request;
        request.method = method;
        request.url = session.base_url(site) + target;
        request.headers = {"KC-API-KEY: " + c.api_key,
                           "KC-API-SIGN: " + hmac_sha256_base64(c.api_secret, timestamp + method + target + body),
                           "KC-API-TIMESTAMP: " + timestamp,
                           "KC-API-PASSPHRASE: " + hmac_sha256_base64(c.api_secret, c.passphrase),
                           "KC-API-KEY-VERSION: " + version};
        request.headers.insert(request.headers.end(), extra_headers.begin(), extra_headers.end());
        request.body = body;
        request.timeout_ms = session.timeout_ms();
        return request;
    };
    return send_with_recovery(session, build,
                              [](const HttpResult& reply) { return kucoin_code(reply) == "400002"; });
}

HttpResult Kucoin::send(ExchangeSession& session, const std::string& method, const std::string& target,
                        const std::string& body) const {
    const std::vector<std::string> headers =
        method == "POST" ? std::vector<std::string>{"Content-Type: application/json"} : std::vector<std::string>{};
    std::string& remembered = session.memory.key_version;
    if (!remembered.empty()) return send_version(session, method, target, body, remembered, headers);
    const HttpResult reply = send_version(session, method, target, body, "2", headers);
    if (kucoin_code(reply) == kSuccess) remembered = "2";
    // A key that takes only version 3 signs its passphrase the same way but is refused as a
    // wrong passphrase under version 2; nothing was done, so asking again is safe.
    if (kucoin_code(reply) != kPassphraseRefused) return reply;
    const HttpResult retried = send_version(session, method, target, body, "3", headers);
    if (kucoin_code(retried) == kPassphraseRefused) return reply;
    if (retried.ok() && kucoin_code(retried) != kKeyRefused) remembered = "3";
    return retried;
}

ValidateCredentialsResult Kucoin::validate(const ValidateCredentialsRequest& request,
                                           ExchangeSession& session) const {
    const std::string checked_at = format_iso8601(session.clock.now_ms());
    if (request.credential.passphrase.empty()) {
        return invalid_result(request, "kucoin passphrase missing", checked_at);
    }
    // Both key versions are tried, in this order; the first the key works with is remembered.
    ProbeReport report;
    std::string accepted_version;
    std::string refusal_class;
    // Both versions and, on the account host, the key's information under each version are asked
    // together: none waits for another. Only the answers of the accepted version are read.
    const char* const versions[] = {"2", "3"};
    std::vector<std::function<HttpResult(ExchangeSession&)>> attempts;
    for (const char* version : versions) {
        attempts.push_back([this, version](ExchangeSession& own) {
            return send_version(own, "GET", "/api/v1/account-overview?currency=USDT", "", version,
                                {"Content-Type: application/json"});
        });
    }
    for (const char* version : versions) {
        attempts.push_back([this, version](ExchangeSession& own) {
            return send_version(own, "GET", "/api/v1/user/api-key", "", version, {}, "account");
        });
    }
    const std::vector<HttpResult> replies = side_by_side(session, attempts);
    for (size_t i = 0; i < 2; ++i) {
        const char* version = versions[i];
        const HttpResult& reply = replies[i];
        note_refusal(refusal_class, read_refusal(reply, session.clock.now_ms()));
        const std::string body = probe_body(reply);
        report.add({{"keyVersion", version}, {"body", body}});
        if (accepted_version.empty() && accepted(body)) accepted_version = version;
    }
    const std::string output = report.str();
    // The report holds each answer as a JSON string, so the code also shows in its escaped form.
    if (!accepted(output) && !contains(output, "\\\"code\\\":\\\"200000\\\"")) {
        return refused_result(request, refusal_class, output, checked_at);
    }
    if (!accepted_version.empty()) session.memory.key_version = accepted_version;
    // The key's permissions, from the account host: "General" reads, "Futures" trades futures
    // (https://www.kucoin.com/docs/rest/account/basic-info/get-api-key-info); withdrawal is not read.
    KeyPermissions permissions;
    const HttpResult& reply = replies[accepted_version == "3" ? 3 : 2];
    if (const auto body = parse_json(reply.body);
        body && reply.ok() && kucoin_code(reply) == kSuccess) {
        const Json& permission = json_member(json_member(*body, "data"), "permission");
        if (permission.is_string())
            permissions.trade = contains(permission.get_ref<const std::string&>(), "Futures");
    }
    return permitted_result(request, permissions, checked_at);
}

OperationResult Kucoin::balance(ExchangeSession& session) const {
    return result_of(session, send(session, "GET", "/api/v1/account-overview?currency=USDT"));
}

OperationResult Kucoin::position(ExchangeSession& session, const std::string& symbol) const {
    return result_of(session, send(session, "GET", "/api/v1/position?symbol=" + usdtm_symbol(symbol)));
}

OperationResult Kucoin::order_status(ExchangeSession& session, const std::string&,
                                     const std::string& order_id) const {
    // KuCoin finds an order by its id alone.
    return result_of(session, send(session, "GET", "/api/v1/orders/" + order_id));
}

OperationResult Kucoin::cancel_order(ExchangeSession& session, const std::string&,
                                     const std::string& order_id) const {
    return result_of(session, send(session, "DELETE", "/api/v1/orders/" + order_id));
}

// KuCoin refuses a position side that does not fit the account's mode as a parameter error
// naming it.
bool refused_for_mode(const HttpResult& reply) {
    const std::string code = kucoin_code(reply);
    return !code.empty() && code != kSuccess &&
           (contains(reply.body, "positionSide") || contains(reply.body, "position mode"));
}

ModeRules Kucoin::mode_rules(ExchangeSession& session) const {
    const auto learn = [this, &session]() -> std::string {
        const HttpResult reply = send(session, "GET", "/api/v2/position/getPositionMode");
        const auto body = parse_json(reply.body);
        if (!reply.ok() || !body || kucoin_code(reply) != kSuccess) return "";
        const auto mode = json_integer(json_member(json_member(*body, "data"), "positionMode"));
        return mode == 1 ? "hedge" : mode == 0 ? "one_way" : "";
    };
    return ModeRules{learn, refused_for_mode, "one_way"};
}

// Reads the lookup of an order by its clientOid: data holds the order -> found; data null -> not
// placed. https://www.kucoin.com/docs/rest/futures-trading/orders/get-order-details-by-orderid-clientoid
OrderLookup read_lookup(const HttpResult& reply) {
    OrderLookup lookup{OrderFound::cannot_tell, reply};
    const auto body = parse_json(reply.body);
    if (!reply.ok() || !body || kucoin_code(reply) != kSuccess) return lookup;
    const Json& data = json_member(*body, "data");
    if (data.is_null()) lookup.found = OrderFound::no;
    if (data.is_object()) lookup.found = OrderFound::yes;
    return lookup;
}

std::string Kucoin::learn_margin_mode(ExchangeSession& session, const std::string& native) const {
    // https://www.kucoin.com/docs-new/rest/futures-trading/positions/get-margin-mode
    const HttpResult reply = send(session, "GET", "/api/v2/position/getMarginMode?symbol=" + native);
    const auto body = parse_json(reply.body);
    if (!reply.ok() || !body || kucoin_code(reply) != kSuccess) return "";
    const Json& mode = json_member(json_member(*body, "data"), "marginMode");
    const std::string learned = mode == "CROSS" ? "cross" : mode == "ISOLATED" ? "isolated" : "";
    if (!learned.empty()) remember_margin_mode(session.memory, native, learned);
    return learned;
}

OperationResult Kucoin::in_margin_mode(ExchangeSession& session, const std::string& native,
                                       const HttpResult& last_order,
                                       const std::function<OperationResult(bool cross)>& attempt) const {
    std::string mode = margin_mode_of(session.memory, native);
    if (mode.empty()) mode = learn_margin_mode(session, native);
    const bool cross = mode == "cross";
    OperationResult result = attempt(cross);
    // 330005: the order's margin mode does not match the contract's (seen on real accounts).
    if (kucoin_code(last_order) != "330005") return result;
    const std::string fresh = learn_margin_mode(session, native);
    if (fresh.empty() || (fresh == "cross") == cross) return result;
    return attempt(fresh == "cross");
}

HttpResult Kucoin::send_order(ExchangeSession& session, const OrderRequest& order, bool buy, bool reduce,
                              bool hedge, const std::string& leverage, bool cross, OrderTicket& ticket) const {
    // Hedge mode names the position (the order's own side when it opens, the other when it
    // closes); one-way mode marks a close reduce-only.
    const bool long_position = reduce ? !buy : buy;
    const std::string body =
        "{\"clientOid\":\"" + ticket.client_order_id + "\",\"side\":\"" + (buy ? "buy" : "sell") + "\",\"symbol\":\"" +
        usdtm_symbol(order.symbol) + "\",\"type\":\"limit\",\"price\":\"" + order.price +
        "\",\"size\":" + whole_units(order.quantity) + (leverage.empty() ? "" : ",\"leverage\":" + leverage) +
        ",\"timeInForce\":\"GTC\",\"marginMode\":\"" + (cross ? "CROSS" : "ISOLATED") + "\"" +
        (hedge ? std::string(",\"positionSide\":\"") + (long_position ? "LONG" : "SHORT") + "\"" : "") +
        (reduce && !hedge ? ",\"reduceOnly\":true" : "") + "}";
    const HttpResult reply = send(session, "POST", "/api/v1/orders", body);
    return settle_order(session, reply, ticket, [&] {
        return read_lookup(
            send(session, "GET", "/api/v1/orders/byClientOid?clientOid=" + ticket.client_order_id));
    });
}

OperationResult Kucoin::place_open(ExchangeSession& session, const OrderRequest& order, int leverage) const {
    const std::string lever = std::to_string(leverage);
    // KuCoin's only leverage request changes cross-margin leverage; an isolated order carries its
    // leverage itself. The "leverage" member says what was sent, and with what.
    const HttpResult leverage_echo{0,
                                   JsonObject()
                                       .add("symbol", usdtm_symbol(order.symbol))
                                       .add_raw("leverage", lever)
                                       .add("sentWith", "order")
                                       .str(),
                                   200};
    const std::string native = usdtm_symbol(order.symbol);
    OrderTicket ticket{ticket_id(order.client_order_id, session.clock), ""};
    HttpResult last_order;
    return with_ticket(in_margin_mode(session, native, last_order, [&](bool cross) {
        // A cross-margin contract takes its leverage by its own request, an isolated order carries it.
        // https://www.kucoin.com/docs-new/rest/futures-trading/positions/modify-cross-margin-leverage
        const HttpResult leverage_reply =
            cross ? send(session, "POST", "/api/v2/changeCrossUserLeverage",
                         JsonObject().add("symbol", native).add("leverage", lever).str())
                  : leverage_echo;
        // A refused cross leverage stops the order, as a refused leverage does everywhere.
        if (cross) {
            if (auto stop = leverage_refusal(session, leverage_reply)) return *stop;
        }
        return in_position_mode(session, mode_rules(session), [&](bool hedge) {
            const HttpResult order_reply =
                send_order(session, order, order.buy, false, hedge, cross ? "" : lever, cross, ticket);
            last_order = order_reply;
            return ModeAttempt{result_of(session, {{"leverage", &leverage_reply}, {"place", &order_reply}}),
                               order_reply};
        });
    }), ticket);
}

OperationResult Kucoin::place_close(ExchangeSession& session, const OrderRequest& order) const {
    OrderTicket ticket{ticket_id(order.client_order_id, session.clock), ""};
    HttpResult last_order;
    return with_ticket(in_margin_mode(session, usdtm_symbol(order.symbol), last_order, [&](bool cross) {
        return in_position_mode(session, mode_rules(session), [&](bool hedge) {
            const HttpResult reply = send_order(session, order, !order.buy, true, hedge, "", cross, ticket);
            last_order = reply;
            return ModeAttempt{result_of(session, reply), reply};
        });
    }), ticket);
}

OperationResult Kucoin::funding(ExchangeSession& session, const std::string& symbol, int lookback_minutes) const {
    // Funding payments between startAt and endAt, newest first, 100 a page; while "hasMore" the
    // next page starts after the last entry's id (offset, forward=false). Asked a week at a time.
    // https://www.kucoin.com/docs/rest/futures-trading/funding-fees/get-private-funding-fee-history
    const FundingPlan plan =
        plan_funding(session.exchange_now_ms(), lookback_minutes, {kMaxFundingWindowMs, 0});
    FundingPages pages;
    pages.list_pointer = "/data/dataList";
    pages.fetch = [&](const FundingWindow& window, const std::string& cursor) {
        return send(session, "GET",
                    "/api/v1/funding-history?symbol=" + usdtm_symbol(symbol) + "&startAt=" +
                        std::to_string(window.start_ms) + "&endAt=" + std::to_string(window.end_ms) +
                        "&maxCount=100" +
                        (cursor.empty() ? "" : "&offset=" + cursor_in_query(cursor) + "&forward=false"));
    };
    pages.accepted = [](const HttpResult& reply) { return kucoin_code(reply) == kSuccess; };
    pages.next_cursor = [](const Json& reply, const Json& list) {
        if (json_member(json_member(reply, "data"), "hasMore") != true) return std::string();
        const auto id = json_integer(json_member(list.back(), "id"));
        return id ? std::to_string(*id) : std::string();
    };
    pages.refusal = [this, &session](const HttpResult& reply) { return result_of(session, reply); };
    return gather_funding(plan, pages);
}

OperationResult Kucoin::close_report(ExchangeSession& session, const std::string& symbol,
                                     const std::string& order_id) const {
    HttpResult order{0, "{}", 200};
    if (!order_id.empty()) order = send(session, "GET", "/api/v1/orders/" + order_id);
    const HttpResult trades = send(session, "GET",
                                   order_id.empty() ? "/api/v1/fills?symbol=" + usdtm_symbol(symbol)
                                                    : "/api/v1/fills?orderId=" + order_id);
    return result_of(session, {{"order", &order}, {"trades", &trades}});
}

Status Kucoin::check_quantity(const std::string& quantity) const {
    // KuCoin sizes are whole lots.
    return check_whole_units(quantity);
}

ContractInfo Kucoin::contract_info(ExchangeSession& session, const std::string& symbol) const {
    const HttpResult reply =
        session.http.send(public_get(session, session.base_url() + "/api/v1/contracts/" + usdtm_symbol(symbol)));
    // https://www.kucoin.com/docs/rest/futures-trading/market-data/get-symbol-detail: whole lots
    // of `multiplier` coins each.
    const std::string currency = before_first(symbol, "_");
    return contract_from_reply(reply, [&currency](const Json& body, ContractRules& rules) {
        const Json& data = json_member(body, "data");
        if (!data.is_object()) return false;
        rules.contract_value = json_decimal(json_member(data, "multiplier"));
        rules.contract_currency = currency;
        rules.min_quantity = json_decimal(json_member(data, "lotSize"));
        rules.quantity_step = json_decimal(json_member(data, "lotSize"));
        rules.price_tick = json_decimal(json_member(data, "tickSize"));
        rules.max_leverage = json_decimal(json_member(data, "maxLeverage"));
        return !rules.contract_value.empty();
    });
}

std::optional<int64_t> Kucoin::server_time_ms(ExchangeSession& session) const {
    return read_server_clock(session, session.base_url() + "/api/v1/timestamp", "/data");
}

}  // namespace

const ExchangeAdapter& kucoin_adapter() {
    static const Kucoin adapter;
    return adapter;
}

}  // namespace korvane::connector
