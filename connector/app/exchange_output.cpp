#include "connector/app/exchange_output.h"

#include "connector/toolkit/json.h"

namespace korvane::connector {

std::string envelope(const std::string& exchange, const std::string& kind, const OperationResult& result) {
    if (result.reason.empty()) {
        JsonObject ok;
        ok.add("status", "ok").add("exchange", exchange).add("kind", kind);
        if (!result.client_order_id.empty()) ok.add("client_order_id", result.client_order_id);
        if (!result.covered_minutes.empty()) ok.add_raw("covered_minutes", result.covered_minutes);
        return ok.add_raw("body", result.body).str();
    }
    JsonObject error;
    error.add("status", "error").add("reason", result.reason);
    if (!result.refusal_class.empty()) {
        error.add("exchange", exchange).add("kind", kind);
        if (!result.client_order_id.empty()) error.add("client_order_id", result.client_order_id);
        error.add("code", result.code).add("message", result.message).add("class", result.refusal_class);
        if (result.retry_after_ms) error.add_raw("retry_after_ms", std::to_string(*result.retry_after_ms));
        return error.add_raw("body", result.body).str();
    }
    if (!result.client_order_id.empty()) error.add("client_order_id", result.client_order_id);
    if (result.reason == "invalid_response") {
        error.add("exchange", exchange).add("kind", kind).add("body_text", result.body_text);
    }
    if (!result.message.empty()) error.add("message", result.message);
    return error.str();
}

}  // namespace korvane::connector
