#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "connector/exchanges/operation_result.h"
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

// True for the two statuses of a key the exchange accepted (read-only or trade-ready).
bool key_accepted(ExchangeConnectionStatus status);

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

// What the exchange said the key may do; empty where it did not say.
struct KeyPermissions {
    std::optional<bool> trade;
    std::optional<bool> withdraw;
};

// Returns the outcome of a key the exchange accepted, with the permissions it reported:
// valid_trade_ready when it may trade, else valid_read_only. The reason is
// "live <exchange> auth validated", followed by "; trading permission not reported by
// <exchange>" and "; withdrawal permission not reported by <exchange>" for what was not said.
ValidateCredentialsResult permitted_result(const ValidateCredentialsRequest& request,
                                           const KeyPermissions& permissions, const std::string& checked_at);

// Keeps in `standing` the refusal a check must name when several replies refused it: a refused
// IP address before a rate limit; other refusals leave it as it is.
void note_refusal(std::string& standing, const std::optional<Refusal>& refusal);

// Returns the outcome of a check the exchange refused with a refusal of class `refusal_class`
// while `answer` is what it saw: for a refused IP address or a rate limit, status error with
// words that say so (the key itself may be fine); otherwise invalid, "<exchange> rejected
// credentials: <answer>".
ValidateCredentialsResult refused_result(const ValidateCredentialsRequest& request,
                                         const std::string& refusal_class, const std::string& answer,
                                         const std::string& checked_at);

}  // namespace korvane::connector
