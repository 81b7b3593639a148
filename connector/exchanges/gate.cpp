// Gate v4 futures: HMAC-SHA512 hex over method, path, query, SHA-512 of the body and a
// timestamp in seconds, one per line. Sizes are whole contracts; a negative size sells.
#include "connector/exchanges/exchange_adapter.h"
#include "connector/exchanges/funding_windows.h"
#include "connector/exchanges/order_outcome.h"
#include "connector/exchanges/input_checks.h"
#include "connector/exchanges/credential_check.h"
#include "connector/toolkit/digest.h"
#include "connector/toolkit/text.h"

namespace korvane::connector {
namespace {

constexpr const char* kFutures = "/api/v4/futures/usdt";
// An order id no order ever has: the credential check's cancel finds nothing to cancel.
constexpr const char* kNoSuchOrder = "0";

// Gate's documented error labels, https://www.gate.io/docs/developers/apiv4/en/#label-list.
// Gate answers success with HTTP 2xx and a refusal with an error status and a label.
const std::vector<RefusalCode> kRefusals = {
    {"INVALID_KEY", "credentials"},
    {"INVALID_SIGNATURE", "credentials"},
    {"MISSING_REQUIRED_HEADER", "credentials"},
    {"INVALID_CREDENTIALS", "credentials"},
    {"REQUEST_EXPIRED", "timestamp"},
    {"IP_FORBIDDEN", "ip_not_allowed"},
    {"READ_ONLY", "permission"},
    {"FORBIDDEN", "permission"},
    {"TOO_MANY_REQUESTS", "rate_limited"},
    {"INSUFFICIENT_AVAILABLE", "insufficient_margin"},
    {"BALANCE_NOT_ENOUGH", "insufficient_margin"},
    {"ORDER_NOT_FOUND", "not_found"},
    {"POSITION_NOT_FOUND", "not_found"},
    {"CONTRACT_NOT_FOUND", "invalid_request"},
    {"INVALID_PARAM_VALUE", "invalid_request"},
    {"INVALID_ARGUMENT", "invalid_request"},
    {"POSITION_DUAL_MODE", "position_mode"},
    {"POSITION_IN_DUAL_MODE", "position_mode"},
    {"USER_NOT_FOUND", "account_mode"},
};

class Gate final : public ExchangeAdapter {
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
    // Signs and sends one request stamped `stamp_sec` seconds (0: now); `json_body` adds the
    // content type of an order.
    HttpResult send(ExchangeSession& session, const std::string& method, const std::string& path,
                    const std::string& query, const std::string& body, bool json_body) const;
    HttpResult send_order(ExchangeSession& session, const OrderRequest& order, bool buy, bool reduce,
                          OrderTicket& ticket) const;
    OrderLookup look_up(ExchangeSession& session, const std::string& contract, const std::string& text) const;
    // Returns true for an account in dual (hedge) position mode: remembered, else read from the
    // futures account ("in_dual_mode") and remembered; false when it cannot be read.
    bool dual_mode(ExchangeSession& session, bool fresh) const;
    // Sets the contract's leverage with the request of the account's position mode.
    HttpResult set_leverage(ExchangeSession& session, const std::string& contract, int leverage,
                            bool dual) const;
};

std::optional<Refusal> Gate::read_refusal(const HttpResult& reply, int64_t now_ms) const {
    if (reply.status < 300) return std::nullopt;
    Refusal refusal;
    refusal.code = reply_code(reply, "label");
    if (refusal.code.empty()) refusal.code = std::to_string(reply.status);
    refusal.message = reply_code(reply, "message");
    refusal.refusal_class = classify_refusal(kRefusals, refusal.code, reply.status);
    // Gate names the moment its limit resets, https://www.gate.io/docs/developers/apiv4/en/#rate-limit
    if (refusal.refusal_class == "rate_limited") {
        refusal.retry_after_ms = wait_until(reply_header(reply, "X-Gate-RateLimit-Reset-Timestamp"), now_ms);
    }
    return refusal;
}

HttpResult Gate::send(ExchangeSession& session, const std::string& method, const std::string& path,
                      const std::string& query, const std::string& body, bool json_body) const {
    const StoredCredential& c = session.credential;
    const auto build = [&](int64_t now) {
        const std::string timestamp = std::to_string(now / 1000);
        const std::string prehash = method + "\n" + path + "\n" + query + "\n" + sha512_hex(body) + "\n" + timestamp;
        HttpRequest request;
        request.method = method;
        request.url = session.base_url() + path + (query.empty() ? "" : "?" + query);
        request.headers = {"KEY: " + c.api_key, "Timestamp: " + timestamp,
                           "SIGN: " + hmac_sha512_hex(c.api_secret, prehash)};
        if (json_body) request.headers.push_back("Content-Type: application/json");
        request.body = body;
        request.timeout_ms = session.timeout_ms();
        return request;
    };
    return send_with_recovery(session, build, [](const HttpResult& reply) {
        return reply_code(reply, "label") == "REQUEST_EXPIRED";
    });
}

ValidateCredentialsResult Gate::validate(const ValidateCredentialsRequest& request, ExchangeSession& session) const {
    const std::string checked_at = format_iso8601(session.clock.now_ms());
    // The account and the trading probe (below) are asked together: neither waits for the other.
    const std::vector<std::function<HttpResult(ExchangeSession&)>> attempts = {
        [this](ExchangeSession& own) { return send(own, "GET", std::string(kFutures) + "/accounts", "", "", false); },
        [this](ExchangeSession& own) {
            return send(own, "DELETE", std::string(kFutures) + "/orders/" + kNoSuchOrder, "contract=BTC_USDT", "",
                        false);
        },
    };
    const std::vector<HttpResult> replies = side_by_side(session, attempts);
    const HttpResult& reply = replies[0];
    if (!reply.ok()) {
        return error_result(request, "gate request failed: " + trim(reply.body), checked_at);
    }
    if (!contains_any(reply.body, {"\"user\"", "\"currency\"", "\"available\""})) {
        const auto refusal = read_refusal(reply, session.clock.now_ms());
        return refused_result(request, refusal ? refusal->refusal_class : "", trim(reply.body), checked_at);
    }
    // Gate documents no key information: cancelling an order id no order has tells whether the
    // key may trade ("not found") or not (a permission refusal), and changes nothing.
    KeyPermissions permissions;
    const HttpResult& probe = replies[1];
    if (const auto refusal = read_refusal(probe, session.clock.now_ms())) {
        if (refusal->refusal_class == "not_found") permissions.trade = true;
        if (refusal->refusal_class == "permission") permissions.trade = false;
    }
    return permitted_result(request, permissions, checked_at);
}

OperationResult Gate::balance(ExchangeSession& session) const {
    return result_of(session, send(session, "GET", std::string(kFutures) + "/accounts", "", "", false));
}

OperationResult Gate::position(ExchangeSession& session, const std::string&) const {
    // Gate lists every open position; the symbol is not sent.
    return result_of(session,
                     send(session, "GET", std::string(kFutures) + "/positions", "holding=true", "", false));
}

OperationResult Gate::order_status(ExchangeSession& session, const std::string& symbol,
                                   const std::string& order_id) const {
    return result_of(session, send(session, "GET", std::string(kFutures) + "/orders/" + order_id,
                                   "contract=" + symbol, "", false));
}

OperationResult Gate::cancel_order(ExchangeSession& session, const std::string& symbol,
                                   const std::string& order_id) const {
    return result_of(session, send(session, "DELETE", std::string(kFutures) + "/orders/" + order_id,
                                   "contract=" + symbol, "", false));
}

// Finds an order by its text: an open order answers to the text in place of its id; a finished
// one (filled or cancelled) does not, so the finished list is searched for it. Found in neither
// -> not placed. https://www.gate.io/docs/developer/apiv4/#get-a-single-order-2 and
// https://www.gate.io/docs/developer/apiv4/#list-futures-orders
OrderLookup Gate::look_up(ExchangeSession& session, const std::string& contract,
                          const std::string& text) const {
    const HttpResult single = send(session, "GET", std::string(kFutures) + "/orders/" + text, "", "", false);
    if (!single.ok() || single.status >= 500 || !is_json_value(single.body)) {
        return {OrderFound::cannot_tell, single};
    }
    if (single.status >= 200 && single.status < 300) return {OrderFound::yes, single};
    if (reply_code(single, "label") != "ORDER_NOT_FOUND") return {OrderFound::cannot_tell, single};
    const HttpResult finished = send(session, "GET", std::string(kFutures) + "/orders",
                                     "contract=" + contract + "&status=finished&limit=100", "", false);
    const auto list = parse_json(finished.body);
    if (!finished.ok() || finished.status != 200 || !list || !list->is_array()) {
        return {OrderFound::cannot_tell, finished};
    }
    for (const Json& item : *list) {
        if (json_member(item, "text") == text) {
            const std::string found = item.dump(-1, ' ', false, Json::error_handler_t::replace);
            return {OrderFound::yes, HttpResult{0, found, 200}};
        }
    }
    return {OrderFound::no, finished};
}

HttpResult Gate::send_order(ExchangeSession& session, const OrderRequest& order, bool buy, bool reduce,
                            OrderTicket& ticket) const {
    // Gate has no side field: a negative size sells.
    const std::string body = "{\"contract\":\"" + order.symbol + "\",\"size\":" + (buy ? "" : "-") +
                             whole_units(order.quantity) +
                             ",\"price\":\"" + order.price + "\",\"tif\":\"gtc\"" +
                             (reduce ? ",\"reduce_only\":true" : "") + ",\"text\":\"" + ticket.client_order_id +
                             "\"}";
    const HttpResult reply = send(session, "POST", std::string(kFutures) + "/orders", "", body, true);
    return settle_order(session, reply, ticket,
                        [&] { return look_up(session, order.symbol, ticket.client_order_id); });
}

bool Gate::dual_mode(ExchangeSession& session, bool fresh) const {
    if (!fresh && !session.memory.dual_mode.empty()) return session.memory.dual_mode == "true";
    // https://www.gate.io/docs/developer/apiv4/#query-futures-account (in_dual_mode)
    const HttpResult reply = send(session, "GET", std::string(kFutures) + "/accounts", "", "", false);
    const auto body = parse_json(reply.body);
    if (!reply.ok() || reply.status != 200 || !body) return session.memory.dual_mode == "true";
    const Json& dual = json_member(*body, "in_dual_mode");
    if (!dual.is_boolean()) return session.memory.dual_mode == "true";
    session.memory.dual_mode = dual.get<bool>() ? "true" : "false";
    return dual.get<bool>();
}

HttpResult Gate::set_leverage(ExchangeSession& session, const std::string& contract, int leverage,
                              bool dual) const {
    // Dual mode keeps both sides' leverage behind its own request; the single-mode one is refused.
    // https://www.gate.io/docs/developer/apiv4/#update-position-leverage-in-dual-mode
    const std::string path = dual ? "/dual_comp/positions/" : "/positions/";
    return send(session, "POST", std::string(kFutures) + path + contract + "/leverage",
                "leverage=" + std::to_string(leverage), "", false);
}

OperationResult Gate::place_open(ExchangeSession& session, const OrderRequest& order, int leverage) const {
    const bool remembered = !session.memory.dual_mode.empty();
    bool dual = dual_mode(session, false);
    HttpResult leverage_reply = set_leverage(session, order.symbol, leverage, dual);
    // Refused for the position mode (the user switched since it was remembered): a refused
    // leverage request changed nothing, so it is sent once more in the mode the account has now.
    const bool mode_refused =
        leverage_reply.status >= 400 && contains(reply_code(leverage_reply, "label"), "DUAL_MODE");
    if (remembered && mode_refused && dual_mode(session, true) != dual) {
        dual = !dual;
        leverage_reply = set_leverage(session, order.symbol, leverage, dual);
    }
    // A refused leverage stops the order; setting the leverage a position has is plain success.
    if (auto stop = leverage_refusal(session, leverage_reply)) return *stop;
    // Gate takes a custom order id as "text" starting with "t-".
    OrderTicket ticket{ticket_id(order.client_order_id, session.clock, "t-"), ""};
    const HttpResult order_reply = send_order(session, order, order.buy, false, ticket);
    return with_ticket(open_result(session, leverage_reply, order_reply), ticket);
}

OperationResult Gate::place_close(ExchangeSession& session, const OrderRequest& order) const {
    OrderTicket ticket{ticket_id(order.client_order_id, session.clock, "t-"), ""};
    return with_ticket(result_of(session, send_order(session, order, !order.buy, true, ticket)), ticket);
}

OperationResult Gate::funding(ExchangeSession& session, const std::string& symbol, int lookback_minutes) const {
    // The account book of type "fund" between from and to (seconds), newest first, pages by offset.
    // https://www.gate.io/docs/developer/apiv4/#query-account-book-2
    constexpr int kPage = 100;
    const FundingPlan plan = plan_funding(session.exchange_now_ms(), lookback_minutes, {30 * kDayMs, 0});
    std::string offset;  // of the page being read
    FundingPages pages;
    pages.list_pointer = "";
    pages.fetch = [&](const FundingWindow& window, const std::string& cursor) {
        offset = cursor;
        return send(session, "GET", std::string(kFutures) + "/account_book",
                    // Whole seconds, rounded inwards so that windows never share one.
                    "type=fund&contract=" + symbol +
                        "&from=" + std::to_string((window.start_ms + 999) / 1000) +
                        "&to=" + std::to_string(window.end_ms / 1000) + "&limit=" + std::to_string(kPage) +
                        (cursor.empty() ? "" : "&offset=" + cursor),
                    "", false);
    };
    pages.accepted = [](const HttpResult& reply) { return reply.status >= 200 && reply.status < 300; };
    pages.next_cursor = [&](const Json&, const Json& list) {
        const int64_t read = offset.empty() ? 0 : std::stoll(offset);
        return list.size() >= kPage ? std::to_string(read + kPage) : std::string();
    };
    pages.refusal = [this, &session](const HttpResult& reply) { return result_of(session, reply); };
    return gather_funding(plan, pages);
}

OperationResult Gate::close_report(ExchangeSession& session, const std::string& symbol,
                                   const std::string& order_id) const {
    HttpResult order{0, "{}", 200};
    if (!order_id.empty()) {
        order = send(session, "GET", std::string(kFutures) + "/orders/" + order_id, "", "", false);
        // A failed lookup ends the report: the trades are not asked for.
        if (!order.ok()) return result_of(session, order);
    }
    const HttpResult trades =
        send(session, "GET", std::string(kFutures) + "/my_trades", "contract=" + symbol + "&limit=20", "", false);
    return result_of(session, {{"order", &order}, {"trades", &trades}});
}

Status Gate::check_quantity(const std::string& quantity) const {
    // Contracts are whole: "2" or "2.0" is two contracts, "0.5" cannot be sent.
    return check_whole_units(quantity);
}

ContractInfo Gate::contract_info(ExchangeSession& session, const std::string& symbol) const {
    const HttpResult reply =
        session.http.send(public_get(session, session.base_url() + "/api/v4/futures/usdt/contracts/" + symbol));
    // https://www.gate.io/docs/developers/apiv4/#get-a-single-contract: whole contracts of
    // quanto_multiplier coins each.
    const std::string currency = before_first(symbol, "_");
    return contract_from_reply(reply, [&currency](const Json& body, ContractRules& rules) {
        if (!json_member(body, "name").is_string()) return false;
        rules.contract_value = json_decimal(json_member(body, "quanto_multiplier"));
        rules.contract_currency = currency;
        rules.min_quantity = json_decimal(json_member(body, "order_size_min"));
        rules.quantity_step = "1";
        rules.price_tick = json_decimal(json_member(body, "order_price_round"));
        rules.max_leverage = json_decimal(json_member(body, "leverage_max"));
        return !rules.contract_value.empty();
    });
}

std::optional<int64_t> Gate::server_time_ms(ExchangeSession& session) const {
    return read_server_clock(session, session.base_url() + "/api/v4/spot/time", "/server_time");
}

}  // namespace

const ExchangeAdapter& gate_adapter() {
    static const Gate adapter;
    return adapter;
}

}  // namespace korvane::connector
