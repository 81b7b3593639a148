#include "connector/app/connector_app.h"

#include "connector/state/record_text.h"
#include "connector/toolkit/endpoints.h"

namespace korvane::connector {
namespace {

std::string app_version() {
    return KORVANE_VERSION;
}

}  // namespace

std::string to_string(ConnectorHealth health) {
    switch (health) {
        case ConnectorHealth::starting: return "starting";
        case ConnectorHealth::pairing_required: return "pairing_required";
        case ConnectorHealth::ready: return "ready";
        case ConnectorHealth::degraded: return "degraded";
        case ConnectorHealth::error: return "error";
    }
    return "unknown";
}

ConnectorApp::ConnectorApp(const std::string& app_root, const std::string& relay_url, const Outside& outside,
                           const std::string& update_public_key)
    : http_(outside.http),
      clock_(outside.clock),
      secrets_(outside.secrets),
      identity_store(app_root),
      vault(app_root + "/vault", outside.secrets),
      memory_store(app_root + "/vault"),
      pairing_store(app_root),
      relay(relay_url, outside.http),
      updater(app_root, update_manifest_url(), app_version(), outside.http, update_public_key) {}

void ConnectorApp::bootstrap() {
    bool saved = true;
    identity = identity_store.load_or_create(&saved);
    if (!saved) problems_.push_back(Status::failure("write_failed", "cannot write " + identity_store.identity_path()));
    pairing = pairing_store.load();
    // Only a paired device has an owner; the pairing file is the fresher source of the address.
    if (identity.paired && !pairing.owner_wallet_address.empty()) {
        identity.owner_wallet = pairing.owner_wallet_address;
    } else if (!identity.paired) {
        identity.owner_wallet.clear();
    }
    relay.connect();
    health = identity.paired && pairing.wallet_approval_confirmed ? ConnectorHealth::ready
                                                                  : ConnectorHealth::pairing_required;
}

ConnectorSnapshot ConnectorApp::snapshot() const {
    std::vector<ExchangeConnection> exchanges = exchange_connections();
    for (const std::string& stored : vault.list_exchanges()) {
        for (ExchangeConnection& connection : exchanges) {
            if (connection.exchange != stored) continue;
            connection.status = ExchangeConnectionStatus::configured;
            connection.credentials_present = true;
            connection.note = "credentials stored locally";
            connection.demo = memory_store.environment(stored) == kDemoEnvironment;
            break;
        }
    }
    return ConnectorSnapshot{identity, health, relay.connected(), vault.backend_name(), exchanges};
}

ValidateCredentialsResult ConnectorApp::validate_and_save(const ValidateCredentialsRequest& request) {
    const AccountMemory known = memory_store.load(request.exchange, request.credential.api_key);
    ValidateCredentialsResult result = validate_credentials(http_, clock_, request, known);
    if (!key_accepted(result.status)) return result;
    result.credentials_saved = vault.save(request.credential);
    if (!result.credentials_saved) {
        result.status = ExchangeConnectionStatus::error;
        const StoredCredential& c = request.credential;
        // A line end would let the value write lines of its own into the record: refused whole.
        const bool storable = fits_record_line(c.exchange) && fits_record_line(c.api_key) &&
                              fits_record_line(c.api_secret) && fits_record_line(c.passphrase);
        result.reason = storable ? "failed to persist credentials to local vault"
                                 : "credentials hold a line break or NUL byte and cannot be stored";
        return result;
    }
    // What the check learned (the key's site, its key version, the clock, its environment) serves
    // every later run. Written when it is new, or when the file still names another environment:
    // a demo key replaced by a live one must not stay "demo" (`status` reads it without the key).
    const bool stale = memory_store.environment(request.exchange) != result.learned.environment;
    if (result.learned != known || stale) {
        if (const Status saved = memory_store.save(request.exchange, request.credential.api_key, result.learned);
            !saved.ok()) {
            problems_.push_back(saved);
        }
    }
    return result;
}

std::optional<StoredCredential> ConnectorApp::load_exchange_credentials(const std::string& exchange) const {
    return vault.load(exchange);
}

bool ConnectorApp::delete_exchange_credentials(const std::string& exchange) {
    return vault.remove(exchange);
}

}  // namespace korvane::connector
