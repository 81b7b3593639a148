#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

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

// One row of an exchange's table of documented refusal codes.
struct RefusalCode {
    const char* code;
    const char* refusal_class;
};

// Returns the class `table` gives `code`; for a code it does not list, "rate_limited" on HTTP
// status 429, else "other".
std::string classify_refusal(const std::vector<RefusalCode>& table, const std::string& code,
                             long http_status);

// Returns the milliseconds from `now_ms` to `reset`, a header value holding a time since the
// epoch (milliseconds, or seconds when it is that small); never below 0; empty for no number.
std::optional<int64_t> wait_until(const std::string& reset, int64_t now_ms);

// Everything the connector does on one exchange: signing, paths, bodies and reading replies.
// Every operation returns the exchange's raw reply (or a composite of replies) for the envelope;
// a reply in which the exchange refused the request becomes "exchange_rejected"; one an
// exchange does not offer answers "unsupported_exchange".
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

    // Refuses ("invalid_quantity") an order size this exchange cannot take (the plain decimal
    // check has passed already).
    virtual Status check_quantity(const std::string& quantity) const;

    // Returns how the exchange refused the request `reply` answers, from its success marker and
    // its own table of documented codes; empty when the reply does not say it refused. `now_ms`
    // turns a reset time into a wait.
    virtual std::optional<Refusal> read_refusal(const HttpResult& reply, int64_t now_ms) const = 0;

    // Returns the result of one request: as from_reply, and "exchange_rejected" with the reply
    // as its body when the exchange refused it.
    OperationResult result_of(const ExchangeSession& session, const HttpResult& reply) const;
    // Returns the result of several requests joined as from_replies does; "exchange_rejected"
    // with the joined body when the exchange refused any of them (the first refusal speaks).
    OperationResult result_of(const ExchangeSession& session,
                              std::initializer_list<std::pair<const char*, const HttpResult*>> parts) const;

  protected:
    // Sends the request `build` makes, stamped with the exchange's time (send_timed): a stamp the
    // exchange refuses (`stamp_refused`) is mended with its server_time_ms, and refusals are read
    // with read_refusal.
    HttpResult send_with_recovery(ExchangeSession& session, const StampedRequest& build,
                                  std::function<bool(const HttpResult&)> stamp_refused) const;

    // The leverage step of opening an order: empty when the order may be sent (the leverage was
    // set, the exchange answered `unchanged_code` for a leverage it already has, or the request
    // did not complete, as before), else "leverage_rejected" with body {"leverage":reply}.
    std::optional<OperationResult> leverage_refusal(const ExchangeSession& session,
                                                    const HttpResult& leverage_reply,
                                                    const char* unchanged_code = nullptr) const;
    // The result of an order opened after its leverage step: the composite
    // {"leverage":...,"place":...}, refused when the exchange refused the order.
    OperationResult open_result(const ExchangeSession& session, const HttpResult& leverage_reply,
                                const HttpResult& order_reply) const;
};

}  // namespace korvane::connector
