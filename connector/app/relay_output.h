#pragma once

#include <string>

#include "connector/relay/relay_client.h"

namespace korvane::connector {

// What one binding command answers, before it is written out.
struct BindingAnswer {
    enum class Kind {
        relay_reply,   // the relay's reply, passed on
        refused,       // the connector's own error: `reason`, and for a wallet mismatch both wallets
        bind_state,    // a state the connector reports itself: `bind_state`, `connector_id`, `pairing_status`
        disconnected,  // the binding was forgotten locally
    };
    Kind kind = Kind::refused;
    RelayReply reply;          // relay_reply
    std::string operation;     // relay_reply: "bind", "bind_status" or "claim_token"
    std::string reason;        // refused
    std::string wallet;        // refused with "relay_wallet_mismatch": the wallet this device expects
    std::string relay_wallet;  // refused with "relay_wallet_mismatch": what the relay named
    std::string bind_state;
    std::string connector_id;
    std::string pairing_status;
};

// Returns the answer as the one JSON text the command prints. A relay reply that is JSON is
// printed unchanged; anything else is wrapped as {"status":"error","reason":"invalid_response",
// "kind":K,"http_status":N,"body_text":S}, S the first 4 KiB of the reply.
std::string render_binding_answer(const BindingAnswer& answer);

// Returns the "server-health" JSON for `status`: the relay's reply nested when it is JSON, else
// as a string.
std::string render_server_health(const ServerStatus& status);

}  // namespace korvane::connector
