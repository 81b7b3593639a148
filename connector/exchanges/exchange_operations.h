#pragma once

#include <string>
#include <vector>

#include "connector/exchanges/exchange_adapter.h"
#include "connector/state/account_memory.h"
#include "connector/state/key_vault.h"

namespace korvane::connector {

// What one exchange command was given, after its operands were read. Fields the command does
// not take stay empty.
struct OperationRequest {
    std::string exchange = {};
    std::string symbol = {};
    std::string order_id = {};
    std::string side = {};
    std::string quantity = {};
    std::string price = {};
    int leverage = 0;
    int lookback_minutes = 180;
};

// One exchange command: what its envelope calls it, what it refuses, and what it asks of the
// exchange's adapter. The rows below are the whole list.
struct ExchangeOperation {
    const char* kind;  // "balance", "place_open", ...
    // Returns a refusal made before the exchange is looked at (an empty order id); ok: none.
    Status (*early_refusal)(const OperationRequest& request);
    // Returns the input refusal for this exchange ("invalid_symbol", ...); ok: may be sent.
    Status (*check)(const ExchangeAdapter& adapter, const OperationRequest& request);
    OperationResult (*run)(const ExchangeAdapter& adapter, ExchangeSession& session, const OperationRequest& request);
};

extern const ExchangeOperation kBalance;
extern const ExchangeOperation kPosition;
extern const ExchangeOperation kOrderStatus;
extern const ExchangeOperation kCancelOrder;
extern const ExchangeOperation kFunding;
extern const ExchangeOperation kCloseReport;
extern const ExchangeOperation kPlaceOpen;
extern const ExchangeOperation kPlaceClose;

// The outside world an exchange command reaches; everything is borrowed and outlives it.
struct ExchangeContext {
    const KeyVault& vault;
    const AccountMemoryStore& memory;
    HttpClient& http;
    const Clock& clock;
    std::vector<Status>& problems;  // state that could not be saved, for the user to hear of
};

// Looks up `symbol`'s contract on `exchange` with a public request: no credential needed. The
// input check comes first ("unsupported_exchange", "invalid_symbol"); nothing is sent for a refusal.
ContractInfo look_up_contract(HttpClient& http, const Clock& clock, const std::string& exchange,
                              const std::string& symbol);

// Runs one exchange command. The refusals come in a fixed order: "credentials_not_found", the
// operation's early refusal, "unsupported_exchange", then its input check; only then is anything
// sent. What the session learned about the account is remembered for the next run.
OperationResult run_exchange_operation(const ExchangeContext& context, const ExchangeOperation& operation,
                                       const OperationRequest& request);

}  // namespace korvane::connector
