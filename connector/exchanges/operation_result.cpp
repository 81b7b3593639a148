#include "connector/exchanges/operation_result.h"

#include "connector/toolkit/json.h"

namespace korvane::connector {
namespace {

constexpr size_t kBodyTextBytes = 4096;

OperationResult transport_failure(const HttpResult& reply) {
    OperationResult result = refused("http_failed");
    // Only a reply over its limit says why: the other transport failures keep their short answer.
    if (reply.error == TransportError::too_large) result.message = reply.body;
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
    if (!reply.ok()) return transport_failure(reply);
    if (!is_json_value(reply.body)) return not_json(reply.body);
    OperationResult result;
    result.body = reply.body;
    return result;
}

OperationResult from_replies(std::initializer_list<std::pair<const char*, const HttpResult*>> parts) {
    for (const auto& [name, reply] : parts) {
        if (!reply->ok()) return transport_failure(*reply);
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

}  // namespace korvane::connector
