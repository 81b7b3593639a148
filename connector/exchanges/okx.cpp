// OKX v5: Base64 HMAC-SHA256 over ISO timestamp + method + path with query + body, with the
// plain passphrase in a header. A key belongs to one of three regional sites.
#include <array>

#include "connector/exchanges/exchange_adapter.h"
#include "connector/exchanges/probe_output.h"
#include "connector/exchanges/symbols.h"
#include "connector/exchanges/credential_check.h"
#include "connector/exchanges/funding_windows.h"
#include "connector/exchanges/order_outcome.h"
#include "connector/toolkit/digest.h"
#include "connector/toolkit/text.h"

namespace korvane::connector {
namespace {

// Returns true for an answer from a site that accepted the key.
bool accepted(std::string_view body) {
    return contains_any(body, {"\"code\":\"0\"", "\"code\": \"0\"", "\"posMode\"", "\"acctLv\"", "\"details\"",
                               "\"availBal\"", "\"availEq\""});
}

std::string okx_code(const HttpResult& reply) {
    return reply_code(reply, "code");
}

// OKX's documented refusal codes, https://www.okx.com/docs-v5/en/#error-code (REST API: public
// and trading errors). An order's own code (data[].sCode) comes from the same table.
const std::vector<RefusalCode> kRefusals = {
    {"50011", "rate_limited"},        {"50061", "rate_limited"},    {"50101", "wrong_environment"},
    {"50102", "timestamp"},           {"50103", "credentials"},     {"50104", "credentials"},
    {"50105", "credentials"},         {"50111", "credentials"},     {"50113", "credentials"},
    {"50119", "credentials"},         {"50110", "ip_not_allowed"},  {"50120", "permission"},
    {"50014", "invalid_request"},     {"51000", "invalid_request"}, {"51001", "invalid_request"},
    {"51008", "insufficient_margin"}, {"51010", "account_mode"},    {"51400", "not_found"},
    {"51603", "not_found"},           {"51015", "invalid_request"},
};

// OKX refuses a posSide that does not fit the account's mode with 51000, for the whole request
// or for the one order in its data.
bool refused_for_mode(const HttpResult& reply) {
    const auto body = parse_json(reply.body);
    if (!body || !body->is_object()) return false;
    if (okx_code(reply) == "51000" && contains(find_string_member(*body, "msg"), "posSide")) return true;
    const Json& data = json_member(*body, "data");
    if (!data.is_array() || data.empty()) return false;
    const Json& message = json_member(data[0], "sMsg");
    return json_member(data[0], "sCode") == "51000" && message.is_string() &&
           contains(message.get_ref<const std::string&>(), "posSide");
}

class Okx final : public ExchangeAdapter {
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
    // Signs and sends one request to `base`; `target` is the path with its query.
    HttpResult send_to(ExchangeSession& session, const std::string& base, const std::string& method,
                       const std::string& target, const std::string& body,
                       const std::vector<std::string>& extra_headers) const;
    HttpResult send(ExchangeSession& session, const std::string& method, const std::string& target,
                    const std::string& body) const {
        return send_to(session, session.base_url(session.memory.site), method, target, body, {});
    }
    HttpResult send_order(ExchangeSession& session, const OrderRequest& order, bool buy, bool reduce,
                          bool hedge, OrderTicket& ticket) const;
    ModeRules mode_rules(ExchangeSession& session) const;
};

std::optional<Refusal> Okx::read_refusal(const HttpResult& reply, int64_t) const {
    const auto body = parse_json(reply.body);
    Refusal refusal;
    // An order or cancel answers for each order in data[]; the first refused one speaks.
    static const Json kNoBody;
    const Json& data = json_member(body ? *body : kNoBody, "data");
    if (data.is_array()) {
        for (const Json& entry : data) {
            const Json& code = json_member(entry, "sCode");
            if (code.is_null() || code == "0" || code == 0) continue;
            refusal.code = code.is_string() ? code.get<std::string>() : code.dump();
            const Json& message = json_member(entry, "sMsg");
            if (message.is_string()) refusal.message = message.get<std::string>();
            refusal.refusal_class = classify_refusal(kRefusals, refusal.code, reply.status);
            return refusal;
        }
    }
    const std::string code = okx_code(reply);
    if (code == "0" || (code.empty() && reply.status < 400)) return std::nullopt;
    refusal.code = code.empty() ? std::to_string(reply.status) : code;
    refusal.message = reply_code(reply, "msg");
    refusal.refusal_class = classify_refusal(kRefusals, refusal.code, reply.status);
    return refusal;
}

HttpResult Okx::send_to(ExchangeSession& session, const std::string& base, const std::string& method,
                        const std::string& target, const std::string& body,
                        const std::vector<std::string>& extra_headers) const {
    const StoredCredential& c = session.credential;
    const auto build = [&](int64_t now) {
        const std::string timestamp = format_iso8601_ms(now);
        HttpRequest request;
        request.method = method;
        request.url = base + target;
        request.headers = {"OK-ACCESS-KEY: " + c.api_key,
                           "OK-ACCESS-SIGN: " + hmac_sha256_base64(c.api_secret, timestamp + method + target + body),
                           "OK-ACCESS-TIMESTAMP: " + timestamp, "OK-ACCESS-PASSPHRASE: " + c.passphrase};
        if (method == "POST") request.headers.push_back("Content-Type: application/json");
        request.headers.insert(request.headers.end(), extra_headers.begin(), extra_headers.end());
        request.body = body;
        request.timeout_ms = session.timeout_ms();
        return request;
    };
    const ClockRecovery recovery{
        [](const HttpResult& reply) { return okx_code(reply) == "50102"; },
        [&session, &base] { return read_server_clock(session, base + "/api/v5/public/time", "/data/0/ts"); }};
    return send_timed(session, build, recovery,
                      [this](const HttpResult& reply, int64_t now) { return read_refusal(reply, now); });
}

ValidateCredentialsResult Okx::validate(const ValidateCredentialsRequest& request, ExchangeSession& session) const {
    const std::string checked_at = format_iso8601(session.clock.now_ms());
    if (request.credential.passphrase.empty()) return invalid_result(request, "okx passphrase missing", checked_at);
    // Every site and every path is tried, in this order, whatever the earlier answers were: the
    // report names each, and the first site that accepted the key is remembered.
    ProbeReport report;
    std::string accepted_site;
    KeyPermissions permissions;
    std::string refusal_class;  // a refused IP address, else a rate limit, on any site
    // No request depends on another's answer, so all of them go out together; the answers are
    // read afterwards in the order above, as if they had come one by one.
    const char* const paths[] = {"/api/v5/account/config", "/api/v5/account/balance?ccy=USDT",
                                 "/api/v5/account/balance"};
    std::vector<std::function<HttpResult(ExchangeSession&)>> attempts;
    for (const ExchangeSite& site : session.sites) {
        for (const char* path : paths) {
            attempts.push_back([this, base = site_url(site), path](ExchangeSession& own) {
                return send_to(own, base, "GET", path, "",
                               {"Content-Type: application/json", "User-Agent: okx-api-client/1.0"});
            });
        }
    }
    const std::vector<HttpResult> replies = side_by_side(session, attempts);
    size_t next = 0;
    for (const ExchangeSite& site : session.sites) {
        const std::string base = site_url(site);
        for (const char* path : paths) {
            const HttpResult& reply = replies[next++];
            const std::string body = probe_body(reply);
            report.add({{"host", base}, {"path", path}, {"body", body}});
            note_refusal(refusal_class, read_refusal(reply, session.clock.now_ms()));
            if (accepted_site.empty() && accepted(body)) accepted_site = site.name;
            if (accepted_site == site.name && std::string_view(path) == "/api/v5/account/config") {
                if (const auto config = parse_json(body)) {
                    const std::string mode = find_string_member(*config, "posMode");
                    if (mode == "net_mode") session.memory.position_mode = "one_way";
                    if (mode == "long_short_mode") session.memory.position_mode = "hedge";
                    // The key's permissions: "read_only", "trade" and "withdraw", comma-separated
                    // (https://www.okx.com/docs-v5/en/#trading-account-rest-api-get-account-configuration).
                    const std::string perm = find_string_member(*config, "perm");
                    if (!perm.empty()) {
                        permissions.trade = contains(perm, "trade");
                        permissions.withdraw = contains(perm, "withdraw");
                    }
                }
            }
        }
    }
    const std::string output = report.str();
    // The report holds each answer as a JSON string, so a code also shows in its escaped form.
    if (!accepted(output) && !contains(output, "\\\"code\\\":\\\"0\\\"")) {
        return refused_result(request, refusal_class, output, checked_at);
    }
    session.memory.site = accepted_site.empty() ? session.sites.front().name : accepted_site;
    return permitted_result(request, permissions, checked_at);
}

OperationResult Okx::balance(ExchangeSession& session) const {
    return result_of(session, send(session, "GET", "/api/v5/account/balance?ccy=USDT", ""));
}

OperationResult Okx::position(ExchangeSession& session, const std::string& symbol) const {
    return result_of(
        session,
        send(session, "GET", "/api/v5/account/positions?instType=SWAP&instId=" + dash_swap_symbol(symbol), ""));
}

OperationResult Okx::order_status(ExchangeSession& session, const std::string& symbol,
                                  const std::string& order_id) const {
    return result_of(
        session,
        send(session, "GET", "/api/v5/trade/order?instId=" + dash_swap_symbol(symbol) + "&ordId=" + order_id, ""));
}

OperationResult Okx::cancel_order(ExchangeSession& session, const std::string& symbol,
                                  const std::string& order_id) const {
    return result_of(session,
                     send(session, "POST", "/api/v5/trade/cancel-order",
                          "{\"instId\":\"" + dash_swap_symbol(symbol) + "\",\"ordId\":\"" + order_id + "\"}"));
}

// Reads the lookup of an order by its clOrdId: listed -> found; 51603 "Order does not exist" ->
// not placed. https://www.okx.com/docs-v5/en/#order-book-trading-trade-get-order-details
OrderLookup read_lookup(const HttpResult& reply) {
    OrderLookup lookup{OrderFound::cannot_tell, reply};
    const auto body = parse_json(reply.body);
    if (!reply.ok() || !body) return lookup;
    if (okx_code(reply) == "51603") lookup.found = OrderFound::no;
    const Json& data = json_member(*body, "data");
    if (okx_code(reply) == "0" && data.is_array() && !data.empty()) lookup.found = OrderFound::yes;
    return lookup;
}

HttpResult Okx::send_order(ExchangeSession& session, const OrderRequest& order, bool buy, bool reduce,
                           bool hedge, OrderTicket& ticket) const {
    // In long/short mode the position side names the position the order belongs to: opposite to
    // the order's side when it closes. Net mode has no position side.
    const bool long_position = reduce ? !buy : buy;
    const std::string position_side =
        hedge ? std::string(",\"posSide\":\"") + (long_position ? "long" : "short") + "\"" : "";
    const std::string body = "{\"instId\":\"" + dash_swap_symbol(order.symbol) + "\",\"tdMode\":\"isolated\"" +
                             position_side + ",\"side\":\"" + (buy ? "buy" : "sell") +
                             "\",\"ordType\":\"limit\",\"px\":\"" + order.price + "\",\"sz\":\"" + order.quantity +
                             "\"" + (reduce ? ",\"reduceOnly\":true" : "") + ",\"clOrdId\":\"" +
                             ticket.client_order_id + "\"}";
    const HttpResult reply = send(session, "POST", "/api/v5/trade/order", body);
    return settle_order(session, reply, ticket, [&] {
        return read_lookup(send(session, "GET",
                                "/api/v5/trade/order?instId=" + dash_swap_symbol(order.symbol) +
                                    "&clOrdId=" + ticket.client_order_id,
                                ""));
    });
}

ModeRules Okx::mode_rules(ExchangeSession& session) const {
    const auto learn = [this, &session]() -> std::string {
        const HttpResult reply = send(session, "GET", "/api/v5/account/config", "");
        const auto body = parse_json(reply.body);
        if (!reply.ok() || !body || okx_code(reply) != "0") return "";
        const std::string mode = find_string_member(*body, "posMode");
        return mode == "net_mode" ? "one_way" : mode == "long_short_mode" ? "hedge" : "";
    };
    // Accounts in long/short mode were all this connector served before it learned modes.
    return ModeRules{learn, refused_for_mode, "hedge"};
}

OperationResult Okx::place_open(ExchangeSession& session, const OrderRequest& order, int leverage) const {
    OrderTicket ticket{ticket_id(order.client_order_id, session.clock), ""};
    return with_ticket(in_position_mode(session, mode_rules(session), [&](bool hedge) {
        const std::string position_side =
            hedge ? std::string(",\"posSide\":\"") + (order.buy ? "long" : "short") + "\"" : "";
        const HttpResult leverage_reply =
            send(session, "POST", "/api/v5/account/set-leverage",
                 "{\"instId\":\"" + dash_swap_symbol(order.symbol) + "\",\"lever\":\"" + std::to_string(leverage) +
                     "\",\"mgnMode\":\"isolated\"" + position_side + "}");
        // A refused leverage stops the order; a refusal for the position mode is learned from.
        if (auto stop = leverage_refusal(session, leverage_reply)) return ModeAttempt{*stop, leverage_reply};
        const HttpResult order_reply = send_order(session, order, order.buy, false, hedge, ticket);
        return ModeAttempt{open_result(session, leverage_reply, order_reply), order_reply};
    }), ticket);
}

OperationResult Okx::place_close(ExchangeSession& session, const OrderRequest& order) const {
    OrderTicket ticket{ticket_id(order.client_order_id, session.clock), ""};
    return with_ticket(in_position_mode(session, mode_rules(session), [&](bool hedge) {
        const HttpResult reply = send_order(session, order, !order.buy, true, hedge, ticket);
        return ModeAttempt{result_of(session, reply), reply};
    }), ticket);
}

OperationResult Okx::funding(ExchangeSession& session, const std::string& symbol, int lookback_minutes) const {
    // Bills of type 8 (funding fee), newest first, 100 a page, older pages after the last billId:
    // the last seven days from /bills, the last three months from /bills-archive.
    // https://www.okx.com/docs-v5/en/#trading-account-rest-api-get-bills-details-last-7-days
    // https://www.okx.com/docs-v5/en/#trading-account-rest-api-get-bills-details-last-3-months
    const FundingPlan plan = plan_funding(session.exchange_now_ms(), lookback_minutes, {0, 90 * kDayMs});
    const std::string path =
        int64_t{lookback_minutes} * 60 * 1000 <= 7 * kDayMs ? "/api/v5/account/bills"
                                                            : "/api/v5/account/bills-archive";
    FundingPages pages;
    pages.list_pointer = "/data";
    pages.fetch = [&](const FundingWindow& window, const std::string& cursor) {
        return send(session, "GET",
                    path + "?instType=SWAP&instId=" + dash_swap_symbol(symbol) + "&type=8&begin=" +
                        std::to_string(window.start_ms) + "&end=" + std::to_string(window.end_ms) +
                        "&limit=100" +
                        (cursor.empty() ? "" : "&after=" + cursor_in_query(cursor)),
                    "");
    };
    pages.accepted = [](const HttpResult& reply) { return okx_code(reply) == "0"; };
    pages.next_cursor = [](const Json&, const Json& list) {
        const Json& last = json_member(list.back(), "billId");
        return list.size() >= 100 && last.is_string() ? last.get<std::string>() : std::string();
    };
    pages.refusal = [this, &session](const HttpResult& reply) { return result_of(session, reply); };
    return gather_funding(plan, pages);
}

OperationResult Okx::close_report(ExchangeSession& session, const std::string& symbol,
                                  const std::string& order_id) const {
    const std::string inst = dash_swap_symbol(symbol);
    const HttpResult order = send(
        session, "GET", "/api/v5/trade/order?instId=" + inst + (order_id.empty() ? "" : "&ordId=" + order_id), "");
    const HttpResult history =
        send(session, "GET", "/api/v5/account/positions-history?instType=SWAP&instId=" + inst, "");
    return result_of(session, {{"order", &order}, {"positions_history", &history}});
}

ContractInfo Okx::contract_info(ExchangeSession& session, const std::string& symbol) const {
    const HttpResult reply = session.http.send(public_get(
        session, session.base_url() + "/api/v5/public/instruments?instType=SWAP&instId=" + dash_swap_symbol(symbol)));
    // https://www.okx.com/docs-v5/en/#public-data-rest-api-get-instruments
    return contract_from_reply(reply, [](const Json& body, ContractRules& rules) {
        const Json& data = json_member(body, "data");
        if (!data.is_array() || data.empty()) return false;
        const Json& item = data[0];
        rules.contract_value = json_decimal(json_member(item, "ctVal"));
        rules.contract_currency = json_decimal(json_member(item, "ctValCcy"));
        rules.min_quantity = json_decimal(json_member(item, "minSz"));
        rules.quantity_step = json_decimal(json_member(item, "lotSz"));
        rules.price_tick = json_decimal(json_member(item, "tickSz"));
        rules.max_leverage = json_decimal(json_member(item, "lever"));
        return !rules.contract_value.empty();
    });
}

std::optional<int64_t> Okx::server_time_ms(ExchangeSession& session) const {
    return read_server_clock(session, session.base_url(session.memory.site) + "/api/v5/public/time", "/data/0/ts");
}

}  // namespace

const ExchangeAdapter& okx_adapter() {
    static const Okx adapter;
    return adapter;
}

}  // namespace korvane::connector
