// Bybit and Gate: the credential check is one signed read-only request sent with curl.
#include <string>

#include "connector/exchanges/exchange_registry.h"
#include "connector/exchanges/validation_results.h"
#include "connector/toolkit/clock.h"
#include "connector/toolkit/digest.h"
#include "connector/toolkit/endpoints.h"
#include "connector/toolkit/shell.h"
#include "connector/toolkit/text.h"

namespace korvane::connector {
namespace {

std::string header(const std::string& line) {
    return "-H " + shell_escape(line) + " ";
}

CommandOutput signed_get(const std::string& headers, const std::string& url) {
    return run_command("curl -sS --max-time 15 " + headers + shell_escape(url));
}

}  // namespace

ValidateCredentialsResult ExchangeRegistry::validate_bybit(const ValidateCredentialsRequest& request) const {
    const StoredCredential& credential = request.credential;
    const std::string timestamp = std::to_string(epoch_ms());
    const std::string window = "5000";
    const std::string signature =
        hmac_sha256_hex(credential.api_secret, timestamp + credential.api_key + window);
    if (signature.empty()) {
        return error_result(request, "failed to build bybit signature: ", now_iso8601());
    }
    const CommandOutput reply = signed_get(
        header("X-BAPI-API-KEY: " + credential.api_key) + header("X-BAPI-TIMESTAMP: " + timestamp) +
            header("X-BAPI-RECV-WINDOW: " + window) + header("X-BAPI-SIGN: " + signature),
        base_url(Site::bybit) + "/v5/user/query-api");
    const std::string checked_at = now_iso8601();
    if (reply.exit_code != 0) {
        return error_result(request, "bybit request failed: " + trim(reply.output), checked_at);
    }
    const std::string& body = reply.output;
    if (!contains_any(body, {"\"retCode\":0", "\"retCode\": 0"})) {
        return invalid_result(request, "bybit rejected credentials: " + trim(body), checked_at);
    }
    // Permission names such as "FiatP2POrder" appear on keys that cannot trade derivatives,
    // so a key the exchange marks read-only is never trade-ready.
    const bool read_only = contains_any(body, {"\"readOnly\":1", "\"readOnly\": 1"});
    const bool can_trade = !read_only && contains_any(body, {"Order", "order"});
    return success_result(request, can_trade, contains(body, "Withdraw"), "live bybit auth validated",
                          checked_at);
}

ValidateCredentialsResult ExchangeRegistry::validate_gate(const ValidateCredentialsRequest& request) const {
    const StoredCredential& credential = request.credential;
    const std::string checked_at = now_iso8601();
    const std::string timestamp = std::to_string(epoch_sec());
    const std::string path = "/api/v4/futures/usdt/accounts";
    const std::string prehash = "GET\n" + path + "\n\n" + sha512_hex("") + "\n" + timestamp;
    const std::string signature = hmac_sha512_hex(credential.api_secret, prehash);
    if (signature.empty()) {
        return error_result(request, "failed to build gate signature: ", checked_at);
    }
    const CommandOutput reply =
        signed_get(header("KEY: " + credential.api_key) + header("Timestamp: " + timestamp) +
                       header("SIGN: " + signature),
                   base_url(Site::gate) + path);
    if (reply.exit_code != 0) {
        return error_result(request, "gate request failed: " + trim(reply.output), checked_at);
    }
    if (contains_any(reply.output, {"\"user\"", "\"currency\"", "\"available\""})) {
        return success_result(request, true, false, "live gate auth validated", checked_at);
    }
    return invalid_result(request, "gate rejected credentials: " + trim(reply.output), checked_at);
}

}  // namespace korvane::connector
