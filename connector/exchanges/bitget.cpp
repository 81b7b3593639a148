// Bitget v2 mix: Base64 HMAC-SHA256 over timestamp + method + path (+ "?" query) + body, with
// the plain passphrase in a header.
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

std::string bitget_code(const HttpResult& reply) {
    const auto body = parse_json(reply.body);
    if (!body || !body->is_object() || !body->contains("code") || !(*body)["code"].is_string()) return "";
    return (*body)["code"].get<std::string>();
}

// The account request names the client as the exchange's documentation asks.
const std::vector<std::string> kChannelHeaders = {"locale: en-US", "X-CHANNEL-API-CODE: qwvtz"};

class Bitget final : public ExchangeAdapter {
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
    // Signs and sends one request; `query` excludes the "?".
    HttpResult send(ExchangeSession& session, const std::string& method, const std::string& path,
                    const std::string& query, const std::string& body,
                    const std::vector<std::string>& extra_headers = {}) const;
};

HttpResult Bitget::send(ExchangeSession& session, const std::string& method, const std::string& path,
                        const std::string& query, const std::string& body,
                        const std::vector<std::string>& extra_headers) const {
    const StoredCredential& c = session.credential;
    const std::string target = path + (query.empty() ? "" : "?" + query);
    const auto build = [&](int64_t now) {
        const std::string timestamp = std::to_string(now);
        HttpRequest request;
        request.method = method;
        request.url = base_url(Site::bitget) + target;
        request.headers = {"ACCESS-KEY: " + c.api_key,
                           "ACCESS-SIGN: " + hmac_sha256_base64(c.api_secret, timestamp + method + target + body),
                           "ACCESS-TIMESTAMP: " + timestamp, "ACCESS-PASSPHRASE: " + c.passphrase,
                           "Content-Type: application/json"};
        request.headers.insert(request.headers.end(), extra_headers.begin(), extra_headers.end());
        request.body = body;
        request.timeout_ms = session.timeout_ms();
        return request;
    };
    const ClockRecovery recovery{
        [](const HttpResult& reply) { return bitget_code(reply) == "40008"; },
        [&session]() -> std::optional<int64_t> {
            const HttpResult reply =
                session.http.send(public_get(session, base_url(Site::bitget) + "/api/v2/public/time"));
            const auto time = parse_json(reply.body);
            if (reply.exit_code != 0 || !time || !time->is_object()) return std::nullopt;
            const Json& data = (*time)["data"];
            if (!data.is_object() || !data.contains("serverTime")) return std::nullopt;
            return json_integer(data["serverTime"]);
        }};
    return send_timed(session, build, recovery);
}

ValidateCredentialsResult Bitget::validate(const ValidateCredentialsRequest& request,
                                           ExchangeSession& session) const {
    const std::string checked_at = format_iso8601(session.clock.now_ms());
    if (request.credential.passphrase.empty()) {
        return invalid_result(request, "bitget passphrase missing", checked_at);
    }
    const std::string output = trim(probe_body(
        send(session, "GET", "/api/v2/mix/account/accounts", "productType=USDT-FUTURES", "", kChannelHeaders)));
    if (output.empty()) return error_result(request, "failed to execute bitget validation probe", checked_at);
    if (contains_any(output, {"\"code\":\"00000\"", "\"available\"", "\"marginCoin\"", "\"accountEquity\""})) {
        return success_result(request, true, false, "live bitget auth validated", checked_at);
    }
    return invalid_result(request, "bitget rejected credentials: " + output, checked_at);
}

OperationResult Bitget::balance(ExchangeSession& session) const {
    return from_reply(
        send(session, "GET", "/api/v2/mix/account/accounts", "productType=USDT-FUTURES", "", kChannelHeaders));
}

OperationResult Bitget::position(ExchangeSession& session, const std::string& symbol) const {
    return from_reply(send(session, "GET", "/api/v2/mix/position/single-position",
                           "symbol=" + reader_linear_symbol(symbol) + "&productType=USDT-FUTURES&marginCoin=USDT", ""));
}

OperationResult Bitget::order_status(ExchangeSession& session, const std::string& symbol,
                                     const std::string& order_id) const {
    return from_reply(send(session, "GET", "/api/v2/mix/order/detail",
                           "symbol=" + reader_linear_symbol(symbol) + "&productType=USDT-FUTURES&orderId=" + order_id,
                           ""));
}

OperationResult Bitget::cancel_order(ExchangeSession& session, const std::string& symbol,
                                     const std::string& order_id) const {
    return from_reply(send(session, "POST", "/api/v2/mix/order/cancel-order", "",
                           "{\"symbol\":\"" + reader_linear_symbol(symbol) +
                               "\",\"productType\":\"USDT-FUTURES\",\"orderId\":\"" + order_id + "\"}"));
}

}  // namespace

const ExchangeAdapter& bitget_adapter() {
    static const Bitget adapter;
    return adapter;
}

}  // namespace korvane::connector
