#pragma once

#include <string>
#include <vector>

#include "connector/exchanges/credential_check.h"
#include "connector/exchanges/exchange_session.h"
#include "connector/state/account_memory.h"
#include "connector/toolkit/clock.h"
#include "connector/toolkit/http_client.h"

namespace korvane::connector {

// One exchange's line in the status snapshot.
struct ExchangeConnection {
    std::string exchange;
    ExchangeConnectionStatus status = ExchangeConnectionStatus::not_configured;
    bool credentials_present = false;
    std::string note = "not configured";
    bool demo = false;  // the stored key is a demo-trading key
};

// Returns one not-configured entry per exchange the connector can hold credentials for, in
// table order.
std::vector<ExchangeConnection> exchange_connections();

struct ExchangeEntry;

// Points `session` at the hosts of its remembered environment (live or demo), with the header a
// demo environment needs.
void use_environment(ExchangeSession& session, const ExchangeEntry& entry);

// Returns the outcome of checking the request's credentials against its exchange, within
// `budget_ms` (45 seconds unless a caller needs less) however many attempts that takes. `known`
// is what earlier runs learned about the account (a clock offset, for one).
ValidateCredentialsResult validate_credentials(HttpClient& http, const Clock& clock,
                                               const ValidateCredentialsRequest& request,
                                               const AccountMemory& known = {},
                                               int64_t budget_ms = kValidationBudgetMs);

}  // namespace korvane::connector
