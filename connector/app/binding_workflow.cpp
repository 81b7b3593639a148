// The ConnectorApp operations that bind this device to an account through the relay.
#include "connector/app/connector_app.h"
#include "connector/app/relay_reply_reader.h"
#include "connector/state/platform_texts.h"
#include "connector/toolkit/json.h"
#include "connector/toolkit/text.h"

#include <cctype>

namespace korvane::connector {
namespace {

bool same_wallet(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

BindingAnswer relay_answer(RelayReply reply, const char* operation) {
    BindingAnswer answer;
    answer.kind = BindingAnswer::Kind::relay_reply;
    answer.reply = std::move(reply);
    answer.operation = operation;
    return answer;
}

BindingAnswer refusal(const char* reason) {
    BindingAnswer answer;
    answer.reason = reason;
    return answer;
}

// Returns the refusal for a reply that names a wallet this device must not take: not an
// address, or another one than the user entered (`owner`, empty when none was entered).
std::optional<BindingAnswer> wallet_mismatch(const RelayMarkers& markers, const std::string& owner) {
    if (!markers.names_wallet) return std::nullopt;
    if (is_wallet_address(markers.wallet) && (owner.empty() || same_wallet(markers.wallet, owner))) {
        return std::nullopt;
    }
    BindingAnswer answer = refusal("relay_wallet_mismatch");
    answer.wallet = owner;
    answer.relay_wallet = markers.wallet;
    return answer;
}

}  // namespace

ServerStatus ConnectorApp::server_health() const {
    return relay.health(identity.owner_wallet);
}

Status ConnectorApp::set_owner_wallet(const std::string& address) {
    // The address goes into a state file, a request header and the status output.
    if (!is_wallet_address(address)) return Status::failure("invalid_wallet", "not 0x and 40 hex digits");
    const Status unwritten = Status::failure("write_failed", "the pairing state could not be written");
    if (!pairing_store.set_owner_wallet(address)) return unwritten;
    pairing = pairing_store.load();
    identity.owner_wallet = pairing.owner_wallet_address;
    identity.paired = false;
    if (!identity_store.save(identity)) return unwritten;
    return Status::success();
}

BindingAnswer ConnectorApp::bind_wallet_to_server() {
    if (pairing.owner_wallet_address.empty()) return refusal("wallet_missing");
    RelayReply reply = relay.bind_wallet(pairing.owner_wallet_address, identity.device_id, relay_label());
    // Only a successful reply that says the binding took marks the device bound; a transport
    // failure or an error reply leaves the state as it was.
    const RelayMarkers markers = trusted_relay_markers(reply);
    if (markers.status == "ok" || markers.bind_state == "authorized") {
        if (auto mismatch = wallet_mismatch(markers, pairing.owner_wallet_address)) return *mismatch;
        apply_bound_pairing_state();
        persist_pairing_state();
    }
    return relay_answer(std::move(reply), "bind");
}

BindingAnswer ConnectorApp::claim_bind_token(const std::string& token) {
    if (token.empty()) return refusal("token_missing");
    // The token is stored in the pairing file and sent to the relay.
    if (!is_bind_token(token)) return refusal("invalid_token");
    RelayReply reply = relay.claim_token(token, identity.device_id, claim_label());
    const RelayMarkers markers = trusted_relay_markers(reply);
    if (markers.status == "ok" || markers.status == "pending_signature" || markers.waiting_for_signature) {
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
    return relay_answer(std::move(reply), "claim_token");
}

BindingAnswer ConnectorApp::disconnect_binding() {
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
    BindingAnswer answer;
    answer.kind = BindingAnswer::Kind::disconnected;
    return answer;
}

BindingAnswer ConnectorApp::binding_status() {
    const std::string& device_id = identity.device_id;
    // A claim made before the wallet was known: ask again, the answer may name the wallet now.
    if (pairing.owner_wallet_address.empty() && is_bind_token(pairing.latest_bind_token)) {
        const RelayMarkers markers =
            trusted_relay_markers(relay.claim_token(pairing.latest_bind_token, device_id, claim_label()));
        if (auto mismatch = wallet_mismatch(markers, pairing.owner_wallet_address)) return *mismatch;
        if (!markers.wallet.empty()) {
            pairing.owner_wallet_address = markers.wallet;
            persist_pairing_state();
        }
    }
    if (pairing.owner_wallet_address.empty()) {
        if (pairing.latest_bind_token.empty() && pairing.latest_claimed_connector_id.empty()) {
            return token_waiting_answer(pairing.pairing_status);
        }
        BindingAnswer answer = token_waiting_answer(pairing.pairing_status);
        answer.bind_state = "pending_signature";
        return answer;
    }

    RelayReply reply = relay.bind_status(pairing.owner_wallet_address, device_id);
    const RelayMarkers markers = trusted_relay_markers(reply);
    // The relay reports a lost session with 401; that reply may only ever unbind.
    const RelayMarkers unbinding =
        reply.delivered && reply.http_status == 401 ? read_relay_markers(reply.body) : markers;
    if (unbinding.reason == "session_missing" || markers.bind_state == "token_missing") {
        disconnect_binding();
        return token_waiting_answer("unpaired");
    }
    if (markers.bind_state == "authorized") {
        if (auto mismatch = wallet_mismatch(markers, pairing.owner_wallet_address)) return *mismatch;
        apply_bound_pairing_state();
        persist_pairing_state();
    } else if (markers.bind_state == "pending_signature") {
        if (auto mismatch = wallet_mismatch(markers, pairing.owner_wallet_address)) return *mismatch;
        pairing.latest_claimed_connector_id = device_id;
        pairing.pairing_status = "pending_signature";
        pairing.wallet_approval_confirmed = false;
        if (!markers.wallet.empty()) identity.owner_wallet = pairing.owner_wallet_address;
        identity.paired = false;
        save_identity();
        health = ConnectorHealth::pairing_required;
        persist_pairing_state();
    }
    return relay_answer(std::move(reply), "bind_status");
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
    problems_.push_back(Status::failure("write_failed", "cannot write " + pairing_store.pairing_path()));
    return false;
}

bool ConnectorApp::save_identity() {
    if (identity_store.save(identity)) return true;
    problems_.push_back(Status::failure("write_failed", "cannot write " + identity_store.identity_path()));
    return false;
}

void ConnectorApp::clear_pending_pairing_state() {
    pairing.latest_bind_token.clear();
    pairing.latest_claimed_connector_id.clear();
}

BindingAnswer ConnectorApp::token_waiting_answer(const std::string& pairing_status) const {
    BindingAnswer answer;
    answer.kind = BindingAnswer::Kind::bind_state;
    answer.bind_state = "token_waiting";
    answer.connector_id = identity.device_id;
    answer.pairing_status = pairing_status;
    return answer;
}

std::string ConnectorApp::claim_label() const {
    return identity.device_label.empty() ? relay_label() : identity.device_label;
}

std::string ConnectorApp::relay_label() const {
    return host_platform_texts().relay_label;
}

}  // namespace korvane::connector
