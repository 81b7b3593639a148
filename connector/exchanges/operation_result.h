#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>

#include "connector/toolkit/http_client.h"

namespace korvane::connector {

// How an exchange said it refused one request.
struct Refusal {
    std::string code;     // the exchange's own code (Gate: its label); the HTTP status when it gave none
    std::string message;  // the exchange's own words
    // One word from the adapter's table of documented codes: credentials, permission,
    // ip_not_allowed, timestamp, rate_limited, insufficient_margin, not_found, position_mode,
    // margin_mode, account_mode, wrong_environment, invalid_request or other.
    std::string refusal_class = "other";
    std::optional<int64_t> retry_after_ms;  // when the exchange said when to ask again
};

// What one exchange operation produced, before it becomes the printed envelope.
struct OperationResult {
    std::string reason;     // empty on success; else "credentials_not_found", "http_failed", ...
    std::string message;    // with "http_failed": the transport's words when the reply was too large;
                            // with an exchange's refusal: the exchange's message
    std::string body;       // on success: the exchange's reply, or a composite of replies; with an
                            // exchange's refusal: what the ok envelope would have carried
    std::string body_text;  // with "invalid_response": the reply that was not JSON
    // With "exchange_rejected" and "leverage_rejected": the exchange's code, the class of that
    // code, and when it may be asked again.
    std::string code = {};
    std::string refusal_class = {};
    std::optional<int64_t> retry_after_ms = {};
    std::string client_order_id = {};  // set by orders: the id the order was sent with
    std::string covered_minutes = {};  // set by funding when the exchange keeps less than the lookback
};

// A contract's trading rules as its exchange publishes them; numbers as decimal text.
struct ContractRules {
    std::string contract_value = "1";  // base coins one quantity unit stands for
    std::string contract_currency;     // the coin that value is counted in
    std::string min_quantity;
    std::string quantity_step;
    std::string price_tick;
    std::string max_leverage;
};

// What a contract lookup found: `result` says whether it worked ("unknown_symbol" when the
// exchange lists no such contract), `rules` holds them when it did.
struct ContractInfo {
    OperationResult result;
    ContractRules rules;
};

// Returns a refusal with `reason`; nothing was sent.
OperationResult refused(std::string reason);

// Returns the result of a request the exchange refused: `reason` ("exchange_rejected" or
// "leverage_rejected"), the refusal's code, message and class, and `body`.
OperationResult rejected(const Refusal& refusal, std::string body, std::string reason = "exchange_rejected");

// Returns the result of one request: "http_failed" when it did not complete, "invalid_response"
// when the reply is not a JSON value, else the reply as the body.
OperationResult from_reply(const HttpResult& reply);

// Returns the replies joined as {"name":reply,...} in the order given; "http_failed" when any
// request failed, "invalid_response" when any reply is not a JSON value.
OperationResult from_replies(std::initializer_list<std::pair<const char*, const HttpResult*>> parts);


}  // namespace korvane::connector
