#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "connector/app/outside.h"
#include "connector/exchanges/exchange_operations.h"
#include "connector/exchanges/exchange_registry.h"
#include "connector/relay/relay_client.h"
#include "connector/app/relay_output.h"
#include "connector/state/account_memory.h"
#include "connector/state/device_identity_store.h"
#include "connector/state/key_vault.h"
#include "connector/state/pairing_store.h"
#include "connector/toolkit/status.h"
#include "connector/updater/updater.h"

namespace korvane::connector {

enum class ConnectorHealth : int32_t {
    starting = 0,
    pairing_required = 1,
    ready = 2,
    degraded = 3,
    error = 4,
};

// Returns the health word, for example "pairing_required"; "unknown" for other values.
std::string to_string(ConnectorHealth health);

// What "status" prints.
struct ConnectorSnapshot {
    DeviceIdentity identity;
    ConnectorHealth health = ConnectorHealth::starting;
    bool relay_connected = false;
    std::string vault_backend;
    std::vector<ExchangeConnection> exchanges;
};

// The one object of a run: owns every store and client, and the operations that change what
// they hold. Exchange commands borrow its stores through `exchange_context`.
class ConnectorApp {
  public:
    // Builds every store and client on `outside`, which must outlive the application.
    // `update_public_key` is the publisher's Base64 Ed25519 key updates must be signed with;
    // empty accepts unsigned updates.
    ConnectorApp(const std::string& app_root, const std::string& relay_url, const Outside& outside,
                 const std::string& update_public_key = "");

    // Loads or creates the identity, loads the pairing state and derives the health.
    void bootstrap();

    ConnectorSnapshot snapshot() const;
    // Validates live; stores the credential when it proved valid.
    ValidateCredentialsResult validate_and_save(const ValidateCredentialsRequest& request);
    std::optional<StoredCredential> load_exchange_credentials(const std::string& exchange) const;
    bool delete_exchange_credentials(const std::string& exchange);
    PairingState pairing_state() const { return pairing; }

    // Returns what an exchange command works with: the stored credentials, what was learned
    // about the accounts, the outside world, and this run's problems.
    ExchangeContext exchange_context() { return ExchangeContext{vault, memory_store, http_, clock_, problems_}; }

    // What `doctor` looks at: the stores and clients as they are, read only.
    const KeyVault& key_vault() const { return vault; }
    const AccountMemoryStore& account_memory() const { return memory_store; }
    const RelayClient& relay_client() const { return relay; }
    const DeviceIdentity& device_identity() const { return identity; }
    SecretStore& secret_store() const { return secrets_; }
    HttpClient& http() const { return http_; }
    const Clock& clock() const { return clock_; }

    UpdateOutcome update_check() const { return updater.check(); }
    bool signed_updates() const { return updater.signed_updates(); }
    UpdateOutcome update_download() const { return updater.download(); }
    UpdateOutcome update_apply() const { return updater.apply(); }

    // Binding with the relay; each returns what the command answers. Only a 2xx relay reply
    // changes state, read through the JSON parser; a wallet the relay names must be an address
    // and the one the user entered ("relay_wallet_mismatch" otherwise).
    ServerStatus server_health() const;
    // Stores the owner wallet and marks the device unpaired; refused with "invalid_wallet" (not 0x
    // and 40 hex digits) or "write_failed".
    Status set_owner_wallet(const std::string& address);
    BindingAnswer bind_wallet_to_server();
    BindingAnswer binding_status();
    // Refused with "token_missing" (empty) or "invalid_token" (not 1-512 of [A-Za-z0-9._~+/=-]).
    BindingAnswer claim_bind_token(const std::string& token);
    BindingAnswer disconnect_binding();

    // Returns what could not be saved during this run (one message each); empty when every
    // state write succeeded.
    const std::vector<Status>& problems() const { return problems_; }

  private:
    void apply_bound_pairing_state();
    bool persist_pairing_state();
    void clear_pending_pairing_state();
    BindingAnswer token_waiting_answer(const std::string& pairing_status) const;
    std::string claim_label() const;
    // Saves the identity; a failure is recorded among the run's problems.
    bool save_identity();
    // Returns the label this platform's connector gives itself towards the relay.
    std::string relay_label() const;

    HttpClient& http_;
    const Clock& clock_;
    SecretStore& secrets_;
    std::vector<Status> problems_;
    DeviceIdentityStore identity_store;
    KeyVault vault;
    AccountMemoryStore memory_store;
    PairingStore pairing_store;
    RelayClient relay;
    Updater updater;
    DeviceIdentity identity;
    PairingState pairing;
    ConnectorHealth health = ConnectorHealth::starting;
};

}  // namespace korvane::connector
