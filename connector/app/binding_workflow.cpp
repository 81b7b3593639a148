// The ConnectorApp operations that bind this device to an account through the relay.
#include "connector/app/connector_app.h"
#include "connector/state/platform_texts.h"
#include "connector/toolkit/json.h"
#include "connector/toolkit/text.h"

namespace korvane::connector {
namespace {

// Returns the value after the first "wallet":" up to the next quote; empty when either is missing.
std::string extract_wallet(const std::string& response) {
    const std::string marker = "\"wallet\":\"";
    const size_t start = response.find(marker);
    if (start == std::string::npos) return "";
    const size_t value = start + marker.size();
    const size_t end = response.find('"', value);
    return end == std::string::npos ? "" : response.substr(value, end - value);
}

}  // namespace

std::string ConnectorApp::server_health() const {
    const ServerStatus status = relay.health(identity.owner_wallet);
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

bool ConnectorApp::set_owner_wallet(const std::string& address) {
    if (!pairing_store.set_owner_wallet(address)) return false;
    pairing = pairing_store.load();
    identity.owner_wallet = pairing.owner_wallet_address;
    identity.paired = false;
    return identity_store.save(identity);
}

std::string ConnectorApp::bind_wallet_to_server() {
    if (pairing.owner_wallet_address.empty()) {
        return "{\"status\":\"error\",\"reason\":\"wallet_missing\"}";
    }
    const std::string answer = relay.bind_wallet(pairing.owner_wallet_address, identity.device_id, relay_label());
    // Only an answer that says the binding took marks the device bound; a transport failure
    // or an error page leaves the state as it was.
    if (contains_any(answer, {"\"status\":\"ok\"", "\"bindState\":\"authorized\""})) {
        apply_bound_pairing_state();
        persist_pairing_state();
    }
    return answer;
}

std::string ConnectorApp::claim_bind_token(const std::string& token) {
    if (token.empty()) return "{\"status\":\"error\",\"reason\":\"token_missing\"}";
    const std::string answer = relay.claim_token(token, identity.device_id, claim_label());
    if (contains_any(
            answer, {"\"status\":\"ok\"", "\"status\":\"pending_signature\"", "\"waiting_for_signature\""})) {
        pairing.latest_bind_token = token;
        pairing.latest_claimed_connector_id = identity.device_id;
        pairing.pairing_status = "pending_signature";
        pairing.wallet_approval_confirmed = false;
        identity.paired = false;
        identity.owner_wallet.clear();
        health = ConnectorHealth::pairing_required;
        save_identity();
        persist_pairing_state();
    }
    return answer;
}

std::string ConnectorApp::disconnect_binding() {
    pairing.owner_wallet_address.clear();
    pairing.pairing_status = "unpaired";
    pairing.wallet_approval_confirmed = false;
    pairing.platform_terms_accepted = false;
    clear_pending_pairing_state();
    identity.owner_wallet.clear();
    identity.paired = false;
    save_identity();
    health = ConnectorHealth::pairing_required;
    persist_pairing_state();
    return "{\"status\":\"ok\",\"state\":\"disconnected\"}";
}

std::string ConnectorApp::binding_status() {
    const std::string& device_id = identity.device_id;
    // A claim made before the wallet was known: ask again, the answer may name the wallet now.
    if (pairing.owner_wallet_address.empty() && !pairing.latest_bind_token.empty()) {
        if (adopt_wallet_from(relay.claim_token(pairing.latest_bind_token, device_id, claim_label()))) {
            persist_pairing_state();
        }
    }
    if (pairing.owner_wallet_address.empty()) {
        if (pairing.latest_bind_token.empty() && pairing.latest_claimed_connector_id.empty()) {
            return token_waiting_answer(pairing.pairing_status);
        }
        return JsonObject()
            .add("status", "ok")
            .add("bindState", "pending_signature")
            .add("connectorId", device_id)
            .add("pairingStatus", pairing.pairing_status)
            .str();
    }

    const std::string answer = relay.bind_status(pairing.owner_wallet_address, device_id);
    if (contains(answer, "\"reason\":\"session_missing\"") ||
        response_has_bind_state(answer, "token_missing")) {
        disconnect_binding();
        return token_waiting_answer("unpaired");
    }
    if (response_has_bind_state(answer, "authorized")) {
        adopt_wallet_from(answer);
        apply_bound_pairing_state();
        persist_pairing_state();
        return answer;
    }
    if (response_has_bind_state(answer, "pending_signature")) {
        pairing.latest_claimed_connector_id = device_id;
        pairing.pairing_status = "pending_signature";
        pairing.wallet_approval_confirmed = false;
        if (adopt_wallet_from(answer)) identity.owner_wallet = pairing.owner_wallet_address;
        identity.paired = false;
        save_identity();
        health = ConnectorHealth::pairing_required;
        persist_pairing_state();
    }
    return answer;
}

void ConnectorApp::apply_bound_pairing_state() {
    pairing.pairing_status = "bound";
    pairing.wallet_approval_confirmed = true;
    pairing.platform_terms_accepted = true;
    clear_pending_pairing_state();
    identity.owner_wallet = pairing.owner_wallet_address;
    identity.paired = true;
    save_identity();
    health = ConnectorHealth::ready;
}

bool ConnectorApp::persist_pairing_state() {
    if (pairing_store.save(pairing)) return true;
    problems_.push_back("cannot write " + pairing_store.pairing_path());
    return false;
}

bool ConnectorApp::save_identity() {
    if (identity_store.save(identity)) return true;
    problems_.push_back("cannot write " + identity_store.identity_path());
    return false;
}

void ConnectorApp::clear_pending_pairing_state() {
    pairing.latest_bind_token.clear();
    pairing.latest_claimed_connector_id.clear();
}

bool ConnectorApp::response_has_bind_state(const std::string& response, const std::string& state) const {
    return contains(response, "\"bindState\":\"" + state + "\"");
}

bool ConnectorApp::adopt_wallet_from(const std::string& response) {
    const std::string wallet = extract_wallet(response);
    if (wallet.empty()) return false;
    pairing.owner_wallet_address = wallet;
    return true;
}

std::string ConnectorApp::token_waiting_answer(const std::string& pairing_status) const {
    return JsonObject()
        .add("status", "ok")
        .add("bindState", "token_waiting")
        .add("connectorId", identity.device_id)
        .add("pairingStatus", pairing_status)
        .str();
}

std::string ConnectorApp::claim_label() const {
    return identity.device_label.empty() ? relay_label() : identity.device_label;
}

std::string ConnectorApp::relay_label() const {
    return host_platform_texts().relay_label;
}

}  // namespace korvane::connector
