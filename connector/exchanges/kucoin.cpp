// KuCoin futures: Base64 HMAC-SHA256 over timestamp + method + path with query + body; the
// passphrase is signed too, and the key version says how.
#include "connector/exchanges/exchange_adapter.h"
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
constexpr int64_t kMaxFundingWindowMs = int64_t{7} * 24 * 60 * 60 * 1000;

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
    std::string check_quantity(const std::string& quantity) const override;
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
                          const std::string& leverage) const;
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
    const ClockRecovery recovery{
        [](const HttpResult& reply) { return kucoin_code(reply) == "400002"; },
        [&session] { return read_server_clock(session, session.base_url() + "/api/v1/timestamp", "/data"); }};
    return send_timed(session, build, recovery, *this);
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
    if (retried.exit_code == 0 && kucoin_code(retried) != kKeyRefused) remembered = "3";
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
        body && reply.exit_code == 0 && kucoin_code(reply) == kSuccess) {
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
        if (reply.exit_code != 0 || !body || kucoin_code(reply) != kSuccess) return "";
        const auto mode = json_integer(json_member(json_member(*body, "data"), "positionMode"));
        return mode == 1 ? "hedge" : mode == 0 ? "one_way" : "";
    };
    return ModeRules{learn, refused_for_mode, "one_way"};
}

HttpResult Kucoin::send_order(ExchangeSession& session, const OrderRequest& order, bool buy, bool reduce,
                              bool hedge, const std::string& leverage) const {
    // Hedge mode names the position (the order's own side when it opens, the other when it
    // closes); one-way mode marks a close reduce-only.
    const bool long_position = reduce ? !buy : buy;
    const std::string body =
        "{\"clientOid\":\"" + random_hex(32) + "\",\"side\":\"" + (buy ? "buy" : "sell") + "\",\"symbol\":\"" +
        usdtm_symbol(order.symbol) + "\",\"type\":\"limit\",\"price\":\"" + order.price +
        "\",\"size\":" + whole_units(order.quantity) + (leverage.empty() ? "" : ",\"leverage\":" + leverage) +
        ",\"timeInForce\":\"GTC\",\"marginMode\":\"ISOLATED\"" +
        (hedge ? std::string(",\"positionSide\":\"") + (long_position ? "LONG" : "SHORT") + "\"" : "") +
        (reduce && !hedge ? ",\"reduceOnly\":true" : "") + "}";
    return send(session, "POST", "/api/v1/orders", body);
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
    return in_position_mode(session, mode_rules(session), [&](bool hedge) {
        const HttpResult order_reply = send_order(session, order, order.buy, false, hedge, lever);
        return ModeAttempt{result_of(session, {{"leverage", &leverage_echo}, {"place", &order_reply}}),
                           order_reply};
    });
}

OperationResult Kucoin::place_close(ExchangeSession& session, const OrderRequest& order) const {
    return in_position_mode(session, mode_rules(session), [&](bool hedge) {
        const HttpResult reply = send_order(session, order, !order.buy, true, hedge, "");
        return ModeAttempt{result_of(session, reply), reply};
    });
}

OperationResult Kucoin::funding(ExchangeSession& session, const std::string& symbol, int lookback_minutes) const {
    const int64_t now = session.exchange_now_ms();
    int64_t window = int64_t{lookback_minutes} * 60 * 1000;
    if (window > kMaxFundingWindowMs) window = kMaxFundingWindowMs;
    return result_of(session, send(session, "GET",
                                   "/api/v1/funding-history?symbol=" + usdtm_symbol(symbol) +
                                       "&startAt=" + std::to_string(now - window) +
                                       "&endAt=" + std::to_string(now) + "&maxCount=50"));
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

std::string Kucoin::check_quantity(const std::string& quantity) const {
    // KuCoin sizes are whole lots.
    return whole_units(quantity).empty() ? "invalid_quantity" : "";
}

ContractInfo Kucoin::contract_info(ExchangeSession& session, const std::string& symbol) const {
    const HttpResult reply =
        session.http.send(public_get(session, session.base_url() + "/api/v1/contracts/" + usdtm_symbol(symbol)));
    // https://www.kucoin.com/docs/rest/futures-trading/market-data/get-symbol-detail: whole lots
    // of `multiplier` coins each.
    const std::string currency = before_first(symbol, "_");
    return contract_from_reply(reply, [&currency](const Json& body, ContractSpec& spec) {
        const Json& data = json_member(body, "data");
        if (!data.is_object()) return false;
        spec.contract_value = json_decimal(json_member(data, "multiplier"));
        spec.contract_currency = currency;
        spec.min_quantity = json_decimal(json_member(data, "lotSize"));
        spec.quantity_step = json_decimal(json_member(data, "lotSize"));
        spec.price_tick = json_decimal(json_member(data, "tickSize"));
        spec.max_leverage = json_decimal(json_member(data, "maxLeverage"));
        return !spec.contract_value.empty();
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
