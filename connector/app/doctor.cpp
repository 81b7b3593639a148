#include "connector/app/doctor.h"

#include <cstdlib>
#include <future>
#include <iostream>

#include "connector/exchanges/exchange_adapter.h"
#include "connector/exchanges/exchange_table.h"
#include "connector/toolkit/text.h"

namespace korvane::connector {
namespace {

constexpr const char* kProbeService = "korvane.connector.doctor";
constexpr const char* kProbeAccount = "doctor";

// Stores a throwaway item, reads it back and removes it: only a store that does all three can
// keep keys (a locked keyring refuses the first, a broken one the second).
bool secret_store_usable(SecretStore& store, const Clock& clock) {
    const std::string value = "doctor-" + std::to_string(clock.now_ms());
    const bool stored = store.store(kProbeService, kProbeAccount, value);
    const auto fetched = stored ? store.fetch(kProbeService, kProbeAccount) : std::nullopt;
    // A tool may end what it prints with a line end; the item is the same.
    const bool read_back = fetched && trim(*fetched) == value;
    store.remove(kProbeService, kProbeAccount);
    return read_back;
}

CredentialDiagnosis diagnose_credential(const ConnectorApp& app, const ExchangeEntry& entry,
                                        const StoredCredential& credential) {
    CredentialDiagnosis found;
    found.exchange = entry.name;
    found.display_name = entry.display_name;
    const AccountMemory known = app.account_memory().load(entry.name, credential.api_key);
    ExchangeSession session{credential, app.http(), app.clock(), known, kDoctorRequestMs,
                            Deadline::after_ms(kDoctorKeyBudgetMs)};
    use_environment(session, entry);
    if (known.environment == kDemoEnvironment) found.environment = kDemoEnvironment;
    found.site = session.base_url(known.site);
    const int64_t before = app.clock().now_ms();
    if (const auto server = entry.adapter->server_time_ms(session)) {
        found.reachable = true;
        // The exchange read its clock somewhere between our two readings.
        found.clock_offset_ms = *server - (before + app.clock().now_ms()) / 2;
    }
    const ValidateCredentialsRequest request{entry.name, credential, known.environment == kDemoEnvironment};
    found.key = validate_credentials(app.http(), app.clock(), request, known, kDoctorKeyBudgetMs);
    return found;
}

std::string seconds_text(int64_t ms) {
    const int64_t tenths = (ms < 0 ? -ms : ms) / 100;
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " s";
}

// Prints one problem's hint and counts it.
void hint(int& problems, const std::string& text) {
    ++problems;
    std::cout << "hint=" << printable(text) << "\n";
}

}  // namespace

Diagnosis diagnose(const ConnectorApp& app) {
    Diagnosis diagnosis;
    diagnosis.relay_url = app.relay_client().server_url();
    diagnosis.signed_updates = app.signed_updates();
    // Every key and the relay at once: the slowest check, not their sum, is what the user waits for.
    std::vector<std::future<CredentialDiagnosis>> keys;
    for (const std::string& name : app.key_vault().list_exchanges()) {
        const ExchangeEntry* entry = find_exchange(name);
        if (entry == nullptr || entry->adapter == nullptr) continue;
        const auto credential = app.key_vault().load(name);
        if (!credential) continue;
        keys.push_back(std::async(std::launch::async, diagnose_credential, std::cref(app), std::cref(*entry),
                                  *credential));
    }
    auto relay = std::async(std::launch::async, [&app] {
        return app.relay_client().health(app.device_identity().owner_wallet).reachable;
    });
    diagnosis.secret_store = app.key_vault().backend_name();
    // Where keys go to files by design there is no store to try.
    if (diagnosis.secret_store != "file_only") {
        diagnosis.secret_store_usable = secret_store_usable(app.secret_store(), app.clock());
    }
    for (auto& key : keys) diagnosis.credentials.push_back(key.get());
    diagnosis.relay_reachable = relay.get();
    return diagnosis;
}

int print_diagnosis(const Diagnosis& diagnosis) {
    int problems = 0;
    std::cout << "secret_store=" << diagnosis.secret_store << "\n"
              << "secret_store_usable=" << (diagnosis.secret_store_usable ? "true" : "false") << "\n";
    if (!diagnosis.secret_store_usable) {
        hint(problems,
             "The system keyring did not keep a test item: it is locked or not answering. Unlock it (log in to "
             "the desktop session, or open your keyring tool); until then new keys are kept in files under "
             "~/.korvane-connector/vault.");
    }
    for (const CredentialDiagnosis& found : diagnosis.credentials) {
        std::cout << "exchange=" << found.exchange << " reachable=" << (found.reachable ? "true" : "false")
                  << " clock_offset_ms="
                  << (found.clock_offset_ms ? std::to_string(*found.clock_offset_ms) : "unknown")
                  << " key=" << to_string(found.key.status)
                  << " can_trade=" << (found.key.can_trade ? "true" : "false")
                  << " withdrawal_enabled=" << (found.key.withdrawal_enabled ? "true" : "false")
                  << " environment=" << found.environment << "\n";
        const std::string& name = found.display_name;
        if (!found.reachable) {
            hint(problems, name + " did not answer at " + found.site +
                               ": check the internet connection, a firewall or a proxy.");
        }
        if (found.clock_offset_ms && std::llabs(*found.clock_offset_ms) > kClockTolerance) {
            hint(problems, "This computer's clock is " + seconds_text(*found.clock_offset_ms) +
                               (*found.clock_offset_ms > 0 ? " behind " : " ahead of ") + name +
                               "'s. Turn on automatic time sync (for example: timedatectl set-ntp true).");
        }
        if (found.reachable && !key_accepted(found.key.status)) {
            hint(problems, name + " no longer accepts the stored key (" + found.key.reason.substr(0, 200) +
                               "). Check the key on " + name + ", or create a new one and validate it again.");
        }
        if (found.key.withdrawal_enabled) {
            hint(problems, "The " + name +
                               " key can withdraw funds. Create a key without withdrawal permission and validate it "
                               "instead.");
        }
    }
    std::cout << "relay_url=" << printable(diagnosis.relay_url) << "\n"
              << "relay_reachable=" << (diagnosis.relay_reachable ? "true" : "false") << "\n";
    if (!diagnosis.relay_reachable) {
        hint(problems, "The pairing server did not answer: check the internet connection. Pairing and the web "
                       "terminal wait until it answers again.");
    }
    std::cout << "signed_updates=" << (diagnosis.signed_updates ? "true" : "false") << "\n"
              << "problems=" << problems << "\n";
    return problems == 0 ? 0 : 2;
}

}  // namespace korvane::connector
