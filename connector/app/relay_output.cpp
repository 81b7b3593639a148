#include "connector/app/relay_output.h"

#include "connector/toolkit/json.h"

namespace korvane::connector {
namespace {

constexpr size_t kBodyTextLimit = 4096;

std::string render_reply(const BindingAnswer& answer) {
    const RelayReply& reply = answer.reply;
    if (!reply.delivered) return JsonObject().add("status", "error").add("reason", reply.failure).str();
    // Every command prints one JSON text: a reply that is none (an error page, a body cut by a
    // NUL byte) is quoted, never copied into the output.
    if (is_json_value(reply.body)) return reply.body;
    return JsonObject()
        .add("status", "error")
        .add("reason", "invalid_response")
        .add("kind", answer.operation)
        .add_raw("http_status", std::to_string(reply.http_status))
        .add("body_text", std::string_view(reply.body).substr(0, kBodyTextLimit))
        .str();
}

}  // namespace

std::string render_binding_answer(const BindingAnswer& answer) {
    switch (answer.kind) {
        case BindingAnswer::Kind::relay_reply: return render_reply(answer);
        case BindingAnswer::Kind::bind_state:
            return JsonObject()
                .add("status", "ok")
                .add("bindState", answer.bind_state)
                .add("connectorId", answer.connector_id)
                .add("pairingStatus", answer.pairing_status)
                .str();
        case BindingAnswer::Kind::disconnected: return "{\"status\":\"ok\",\"state\":\"disconnected\"}";
        case BindingAnswer::Kind::refused: break;
    }
    JsonObject error;
    error.add("status", "error").add("reason", answer.reason);
    if (answer.reason == "relay_wallet_mismatch") {
        error.add("wallet", answer.wallet).add("relay_wallet", answer.relay_wallet);
    }
    return error.str();
}

std::string render_server_health(const ServerStatus& status) {
    // A reachable relay's reply is nested as it came when it is JSON; anything else is quoted,
    // so the answer stays one JSON text.
    const std::string message =
        status.reachable && is_json_value(status.message) ? status.message : json_string(status.message);
    return JsonObject()
        .add("status", "ok")
        .add("relay_url", status.relay_url)
        .add("reachable", status.reachable)
        .add("health_status", status.health_status)
        .add("wallet_address", status.wallet_address)
        .add_raw("message", message)
        .str();
}

}  // namespace korvane::connector
