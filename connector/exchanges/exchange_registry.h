#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "connector/state/account_memory.h"
#include "connector/state/key_vault.h"
#include "connector/toolkit/clock.h"
#include "connector/toolkit/http_client.h"

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

// One exchange's line in the status snapshot.
struct ExchangeConnection {
    std::string exchange;
    ExchangeConnectionStatus status = ExchangeConnectionStatus::not_configured;
    bool credentials_present = false;
    std::string note = "not configured";
};

struct ValidateCredentialsRequest {
    std::string exchange;
    StoredCredential credential;
};

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

// The exchanges the connector can hold credentials for, and their live credential checks.
class ExchangeRegistry {
  public:
    // Keeps the outside world the checks reach; both must outlive the registry.
    ExchangeRegistry(HttpClient& http, const Clock& clock);

    // Returns one not-configured entry per known exchange, in list order.
    std::vector<ExchangeConnection> bootstrap() const;

    // Returns the outcome of checking the request's credentials against its exchange, within
    // 45 seconds however many attempts that takes. `known` is what earlier runs learned about
    // the account (a clock offset, for one).
    ValidateCredentialsResult validate(const ValidateCredentialsRequest& request,
                                       const AccountMemory& known = {}) const;

  private:
    HttpClient& http_;
    const Clock& clock_;
};

}  // namespace korvane::connector
