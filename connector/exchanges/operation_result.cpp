#include "connector/exchanges/operation_result.h"

#include "connector/toolkit/json.h"

namespace korvane::connector {
namespace {

constexpr size_t kBodyTextBytes = 4096;

OperationResult transport_failure(const HttpResult& reply) {
    OperationResult result = refused("http_failed");
    // Only a reply over its limit says why: the other transport failures keep their short answer.
    if (reply.exit_code == kHttpReplyTooLarge) result.message = reply.body;
    return result;
}

OperationResult not_json(const std::string& body) {
    OperationResult result = refused("invalid_response");
    size_t cut = body.size() < kBodyTextBytes ? body.size() : kBodyTextBytes;
    // Back off to a character boundary so the cut does not leave half a UTF-8 sequence.
    while (cut < body.size() && cut > 0 && (static_cast<unsigned char>(body[cut]) & 0xC0) == 0x80) --cut;
    result.body_text = body.substr(0, cut);
    return result;
}

}  // namespace

OperationResult refused(std::string reason) {
    OperationResult result;
    result.reason = std::move(reason);
    return result;
}

OperationResult rejected(const Refusal& refusal, std::string body, std::string reason) {
    OperationResult result = refused(std::move(reason));
    result.code = refusal.code;
    result.message = refusal.message;
    result.refusal_class = refusal.refusal_class;
    result.retry_after_ms = refusal.retry_after_ms;
    result.body = std::move(body);
    return result;
}

OperationResult from_reply(const HttpResult& reply) {
    if (reply.exit_code != 0) return transport_failure(reply);
    if (!is_json_value(reply.body)) return not_json(reply.body);
    OperationResult result;
    result.body = reply.body;
    return result;
}

OperationResult from_replies(std::initializer_list<std::pair<const char*, const HttpResult*>> parts) {
    for (const auto& [name, reply] : parts) {
        if (reply->exit_code != 0) return transport_failure(*reply);
    }
    OperationResult result;
    for (const auto& [name, reply] : parts) {
        if (!is_json_value(reply->body)) return not_json(reply->body);
        result.body += result.body.empty() ? "{" : ",";
        result.body += std::string("\"") + name + "\":" + reply->body;
    }
    result.body += "}";
    return result;
}

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
