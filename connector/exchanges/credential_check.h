#pragma once

#include <cstdint>
#include <string>

#include "connector/state/account_memory.h"
#include "connector/state/key_vault.h"

namespace korvane::connector {

enum class ExchangeConnectionStatus : int32_t {
    not_configured = 0,
    configured = 1,
    validating = 2,
    valid_read_only = 3,
    valid_trade_ready = 4,
    invalid = 5,
    error = 6,
};

// Returns the status word, for example "valid_trade_ready"; "unknown" for other values.
std::string to_string(ExchangeConnectionStatus status);

// A credential to check live.
struct ValidateCredentialsRequest {
    std::string exchange;
    StoredCredential credential;
    bool demo = false;  // a demo-trading key, checked in the exchange's demo environment
};

// What a live check found out about a credential.
struct ValidateCredentialsResult {
    std::string exchange;
    ExchangeConnectionStatus status = ExchangeConnectionStatus::invalid;
    bool can_read = false;
    bool can_trade = false;
    bool withdrawal_enabled = false;
    bool credentials_saved = false;
    std::string reason;
    std::string checked_at;
    AccountMemory learned;  // what the check learned about the account; kept when the credential is
};

// Result builders shared by the validators. All flags false; the given reason and time.
ValidateCredentialsResult invalid_result(const ValidateCredentialsRequest& request, const std::string& reason,
                                         const std::string& checked_at);
ValidateCredentialsResult error_result(const ValidateCredentialsRequest& request, const std::string& reason,
                                       const std::string& checked_at);
// Returns valid_trade_ready when `can_trade`, else valid_read_only; can_read true.
ValidateCredentialsResult success_result(const ValidateCredentialsRequest& request, bool can_trade,
                                         bool withdrawal_enabled, const std::string& reason,
                                         const std::string& checked_at);

}  // namespace korvane::connector
