#pragma once

#include <functional>
#include <string>
#include <vector>

#include "connector/exchanges/exchange_adapter.h"
#include "connector/state/account_memory.h"
#include "connector/state/key_vault.h"

namespace korvane::connector {

// The outside world an exchange command reaches; everything is borrowed and outlives it.
struct ExchangeContext {
    const KeyVault& vault;
    const AccountMemoryStore& memory;
    HttpClient& http;
    const Clock& clock;
    std::vector<std::string>& problems;  // state that could not be saved, for the user to hear of
};

// Returns the input refusal of one command for `adapter` ("invalid_symbol", ...); empty when
// the inputs may be sent.
using InputCheck = std::function<std::string(const ExchangeAdapter& adapter)>;
using Operation = std::function<OperationResult(const ExchangeAdapter& adapter, ExchangeSession& session)>;

// Runs one exchange command and returns its envelope. The refusals come in a fixed order:
// "credentials_not_found", then `early_refusal` (non-empty: refused before the exchange is looked
// at), "unsupported_exchange", then `check`. Only then is anything sent. What the session
// learned about the account is remembered for the next run.
std::string run_exchange_operation(const ExchangeContext& context, const std::string& exchange,
                                   const std::string& kind, const std::string& early_refusal,
                                   const InputCheck& check, const Operation& operation);

}  // namespace korvane::connector
