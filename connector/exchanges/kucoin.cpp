// KuCoin futures: Base64 HMAC-SHA256 over timestamp + method + path with query + body; the
// passphrase is signed too, and the key version says how.
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

std::string kucoin_code(const HttpResult& reply) {
    const auto body = parse_json(reply.body);
    if (!body || !body->is_object() || !body->contains("code") || !(*body)["code"].is_string()) return "";
    return (*body)["code"].get<std::string>();
}

class Kucoin final : public ExchangeAdapter {
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
    // Signs and sends one request with key version `version`; `target` is the path with its query.
    HttpResult send_version(ExchangeSession& session, const std::string& method, const std::string& target,
                            const std::string& body, const std::string& version,
                            const std::vector<std::string>& extra_headers) const;
    HttpResult send(ExchangeSession& session, const std::string& method, const std::string& target) const {
        return send_version(session, method, target, "", "2", {});
    }
};

HttpResult Kucoin::send_version(ExchangeSession& session, const std::string& method, const std::string& target,
                                const std::string& body, const std::string& version,
                                const std::vector<std::string>& extra_headers) const {
    const StoredCredential& c = session.credential;
    const auto build = [&](int64_t now) {
        const std::string timestamp = std::to_string(now);
        HttpRequest request;
        request.method = method;
        request.url = base_url(Site::kucoin_futures) + target;
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
        [&session]() -> std::optional<int64_t> {
            const HttpResult reply =
                session.http.send(public_get(session, base_url(Site::kucoin_futures) + "/api/v1/timestamp"));
            const auto time = parse_json(reply.body);
            if (reply.exit_code != 0 || !time || !time->is_object() || !time->contains("data")) return std::nullopt;
            return json_integer((*time)["data"]);
        }};
    return send_timed(session, build, recovery);
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
    for (const char* version : {"2", "3"}) {
        const std::string body =
            probe_body(send_version(session, "GET", "/api/v1/account-overview?currency=USDT", "", version,
                                    {"Content-Type: application/json"}));
        report.add({{"keyVersion", version}, {"body", body}});
        if (accepted_version.empty() &&
            contains_any(body, {"\"code\":\"200000\"", "\"availableBalance\"", "\"accountEquity\""})) {
            accepted_version = version;
        }
    }
    const std::string output = report.str();
    if (!contains_any(output, {"\"code\":\"200000\"", "\\\"code\\\":\\\"200000\\\"", "\"availableBalance\"",
                               "\"accountEquity\""})) {
        return invalid_result(request, "kucoin rejected credentials: " + output, checked_at);
    }
    if (!accepted_version.empty()) session.memory.kucoin_key_version = accepted_version;
    return success_result(request, true, false, "live kucoin auth validated", checked_at);
}

OperationResult Kucoin::balance(ExchangeSession& session) const {
    return from_reply(send(session, "GET", "/api/v1/account-overview?currency=USDT"));
}

OperationResult Kucoin::position(ExchangeSession& session, const std::string& symbol) const {
    return from_reply(send(session, "GET", "/api/v1/position?symbol=" + kucoin_symbol(symbol)));
}

OperationResult Kucoin::order_status(ExchangeSession& session, const std::string&,
                                     const std::string& order_id) const {
    // KuCoin finds an order by its id alone.
    return from_reply(send(session, "GET", "/api/v1/orders/" + order_id));
}

OperationResult Kucoin::cancel_order(ExchangeSession& session, const std::string&,
                                     const std::string& order_id) const {
    return from_reply(send(session, "DELETE", "/api/v1/orders/" + order_id));
}

}  // namespace

const ExchangeAdapter& kucoin_adapter() {
    static const Kucoin adapter;
    return adapter;
}

}  // namespace korvane::connector
