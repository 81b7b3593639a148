// BingX perpetual swap: HMAC-SHA256 hex over the query string, which carries the timestamp and
// ends with the signature; the key travels in a header.
#include "connector/exchanges/exchange_adapter.h"
#include "connector/exchanges/exchange_adapters.h"
#include "connector/exchanges/probe_output.h"
#include "connector/exchanges/symbols.h"
#include "connector/exchanges/validation_results.h"
#include "connector/toolkit/digest.h"
#include "connector/toolkit/endpoints.h"
#include "connector/toolkit/text.h"

namespace korvane::connector {
namespace {

// BingX answers a timestamp outside its window with this code.
constexpr int64_t kStaleTimestamp = 100421;

std::optional<int64_t> bingx_code(const HttpResult& reply) {
    const auto body = parse_json(reply.body);
    if (!body || !body->is_object() || !body->contains("code")) return std::nullopt;
    return json_integer((*body)["code"]);
}

class Bingx final : public ExchangeAdapter {
  public:
    ValidateCredentialsResult validate(const ValidateCredentialsRequest& request,
                                       ExchangeSession& session) const override;
    OperationResult balance(ExchangeSession& session) const override;
    OperationResult position(ExchangeSession& session, const std::string& symbol) const override;
    OperationResult order_status(ExchangeSession& session, const std::string& symbol,
                                 const std::string& order_id) const override;
    OperationResult cancel_order(ExchangeSession& session, const std::string& symbol,
                                 const std::string& order_id) const override;
    OperationResult place_open(ExchangeSession&, const OrderRequest&, int) const override {
        return refused("unsupported_exchange");
    }
    OperationResult place_close(ExchangeSession&, const OrderRequest&) const override {
        return refused("unsupported_exchange");
    }
    OperationResult funding(ExchangeSession&, const std::string&, int) const override {
        return refused("unsupported_exchange");
    }
    OperationResult close_report(ExchangeSession&, const std::string&, const std::string&) const override {
        return refused("unsupported_exchange");
    }

  private:
    // Signs and sends one request; `params` are the query parameters before the timestamp,
    // each followed by "&" (or empty).
    HttpResult send(ExchangeSession& session, const std::string& method, const std::string& path,
                    const std::string& params) const;
};

HttpResult Bingx::send(ExchangeSession& session, const std::string& method, const std::string& path,
                       const std::string& params) const {
    const StoredCredential& c = session.credential;
    const auto build = [&](int64_t now) {
        const std::string query = params + "timestamp=" + std::to_string(now);
        HttpRequest request;
        request.method = method;
        request.url = base_url(Site::bingx) + path + "?" + query + "&signature=" + hmac_sha256_hex(c.api_secret, query);
        request.headers = {"X-BX-APIKEY: " + c.api_key};
        request.timeout_ms = session.timeout_ms();
        return request;
    };
    const ClockRecovery recovery{
        [](const HttpResult& reply) { return bingx_code(reply) == kStaleTimestamp; },
        [&session]() -> std::optional<int64_t> {
            const HttpResult reply =
                session.http.send(public_get(session, base_url(Site::bingx) + "/openApi/swap/v2/server/time"));
            const auto time = parse_json(reply.body);
            if (reply.exit_code != 0 || !time || !time->is_object()) return std::nullopt;
            const Json& data = (*time)["data"];
            if (!data.is_object() || !data.contains("serverTime")) return std::nullopt;
            return json_integer(data["serverTime"]);
        }};
    return send_timed(session, build, recovery);
}

ValidateCredentialsResult Bingx::validate(const ValidateCredentialsRequest& request,
                                          ExchangeSession& session) const {
    const std::string checked_at = format_iso8601(session.clock.now_ms());
    ProbeReport report;
    for (const char* path : {"/openApi/swap/v3/user/balance", "/openApi/swap/v2/user/balance"}) {
        report.add({{"path", path}, {"body", probe_body(send(session, "GET", path, ""))}});
    }
    const std::string output = report.str();
    if (contains_any(output, {"\"code\":0", "\"code\": 0", "\\\"code\\\":0", "\\\"code\\\": 0", "\"balance\"",
                              "\"equity\"", "availableMargin"})) {
        return success_result(request, true, false, "live bingx auth validated", checked_at);
    }
    return invalid_result(request, "bingx rejected credentials: " + output, checked_at);
}

OperationResult Bingx::balance(ExchangeSession& session) const {
    return from_reply(send(session, "GET", "/openApi/swap/v2/user/balance", ""));
}

OperationResult Bingx::position(ExchangeSession& session, const std::string& symbol) const {
    return from_reply(send(session, "GET", "/openApi/swap/v2/user/positions", "symbol=" + bingx_symbol(symbol) + "&"));
}

OperationResult Bingx::order_status(ExchangeSession& session, const std::string& symbol,
                                    const std::string& order_id) const {
    return from_reply(send(session, "GET", "/openApi/swap/v2/trade/order",
                           "symbol=" + bingx_symbol(symbol) + "&orderId=" + order_id + "&"));
}

OperationResult Bingx::cancel_order(ExchangeSession& session, const std::string& symbol,
                                    const std::string& order_id) const {
    return from_reply(send(session, "DELETE", "/openApi/swap/v2/trade/order",
                           "symbol=" + bingx_symbol(symbol) + "&orderId=" + order_id + "&"));
}

}  // namespace

const ExchangeAdapter& bingx_adapter() {
    static const Bingx adapter;
    return adapter;
}

}  // namespace korvane::connector
