#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "connector/app/connector_app.h"

namespace korvane::connector {

// A clock further off the exchange's than this is worth fixing, even though requests recover
// from a refused timestamp: some exchanges refuse a stamp a second off.
constexpr int64_t kClockTolerance = 2000;
// Each check of a stored key ends within this, so a machine where everything is down is
// diagnosed in well under half a minute.
constexpr int64_t kDoctorKeyBudgetMs = 15000;
constexpr long kDoctorRequestMs = 5000;

// What `doctor` found about one stored credential.
struct CredentialDiagnosis {
    std::string exchange;
    std::string display_name;
    std::string site;                      // the base URL asked
    bool reachable = false;                // the exchange's time request was answered
    std::optional<int64_t> clock_offset_ms;  // the exchange's clock minus ours
    ValidateCredentialsResult key;         // the key checked again, nothing stored
    std::string environment = "live";
};

// What `doctor` found on this machine.
struct Diagnosis {
    std::string secret_store;       // the vault backend name
    bool secret_store_usable = true;  // a test item could be stored, read back and removed
    std::vector<CredentialDiagnosis> credentials;
    std::string relay_url;
    bool relay_reachable = false;
    bool signed_updates = false;
};

// Checks everything at once (each stored key, the relay) and returns what it found. Sends no
// order and changes no stored state; the secret store's test item is removed again.
Diagnosis diagnose(const ConnectorApp& app);

// Prints `diagnosis` as key=value lines with a plain-words hint= line after each problem, and
// returns the exit code: 0 when all is well, 2 when something needs attention.
int print_diagnosis(const Diagnosis& diagnosis);

}  // namespace korvane::connector
