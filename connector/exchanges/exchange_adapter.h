#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "connector/exchanges/credential_check.h"
#include "connector/exchanges/exchange_session.h"
#include "connector/exchanges/operation_result.h"

namespace korvane::connector {

// One order as the command line gave it, after the input checks.
struct OrderRequest {
    std::string symbol;  // contract name, for example BTC_USDT
    bool buy = true;     // side "buy": opens a long, or closes one
    std::string quantity;
    std::string price;
    std::string client_order_id;  // made by the connector; adapters make one when empty
};

// Everything the connector does on one exchange: signing, paths, bodies and reading replies.
// Every operation returns the exchange's raw reply (or a composite of replies) for the envelope;
// one an exchange does not offer answers "unsupported_exchange".
class ExchangeAdapter {
  public:
    virtual ~ExchangeAdapter() = default;

    // Returns the exchange's clock (milliseconds since the epoch) from its public time request;
    // empty when it cannot be read.
    virtual std::optional<int64_t> server_time_ms(ExchangeSession& session) const = 0;
    // Checks the request's credential live; the session learns what the exchange told.
    virtual ValidateCredentialsResult validate(const ValidateCredentialsRequest& request,
                                               ExchangeSession& session) const = 0;
    virtual OperationResult balance(ExchangeSession& session) const = 0;
    virtual OperationResult position(ExchangeSession& session, const std::string& symbol) const = 0;
    virtual OperationResult order_status(ExchangeSession& session, const std::string& symbol,
                                         const std::string& order_id) const = 0;
    virtual OperationResult cancel_order(ExchangeSession& session, const std::string& symbol,
                                         const std::string& order_id) const = 0;
    // Sets the leverage, then places a GTC limit order; body {"leverage":...,"place":...}.
    virtual OperationResult place_open(ExchangeSession& session, const OrderRequest& order,
                                       int leverage) const = 0;
    // Places a limit order that only reduces the position opened on `order.buy`'s side.
    virtual OperationResult place_close(ExchangeSession& session, const OrderRequest& order) const = 0;
    virtual OperationResult funding(ExchangeSession& session, const std::string& symbol,
                                    int lookback_minutes) const = 0;
    virtual OperationResult close_report(ExchangeSession& session, const std::string& symbol,
                                         const std::string& order_id) const = 0;
    // Reads the contract's rules from the exchange's public instrument list (no credential).
    virtual ContractInfo contract_info(ExchangeSession& session, const std::string& symbol) const = 0;

    // Returns "invalid_quantity" for an order size this exchange cannot take (the plain decimal
    // check has passed already); empty when it can.
    virtual std::string check_quantity(const std::string& quantity) const;
};

}  // namespace korvane::connector
