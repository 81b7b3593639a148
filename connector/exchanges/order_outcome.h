#pragma once

#include <functional>
#include <string>

#include "connector/exchanges/exchange_session.h"
#include "connector/exchanges/operation_result.h"
#include "connector/toolkit/http_client.h"

namespace korvane::connector {

// Returns a new client order id: "kv", our clock in milliseconds and 11 random hex digits (26
// letters and digits), which every exchange takes as it is; Gate's adapter puts "t-" before it.
std::string make_client_order_id(const Clock& clock);

// What looking an order up by its client order id told.
enum class OrderFound { yes, no, cannot_tell };

// One lookup: its verdict and, when found, the exchange's reply describing the order.
struct OrderLookup {
    OrderFound found = OrderFound::cannot_tell;
    HttpResult reply;
};

// One order on its way: the client order id it carries and, when its reply was lost and the
// lookup did not find it, the reason the command answers with.
struct OrderTicket {
    std::string client_order_id;
    std::string unsettled;  // empty, "order_not_placed" or "order_outcome_unknown"
    bool reached = false;   // the order request may have reached the exchange
};

// Returns true when an order's reply leaves its outcome unknown: the transport failed after the
// request may have reached the exchange (a timeout, a dropped connection, a reply cut short), or
// the exchange or a proxy answered 5xx. A request that never left (no connection) is not.
bool outcome_unknown(const HttpResult& reply);

// Lookups made for one lost reply, and the time they may take together.
constexpr int kOrderLookupTries = 3;
constexpr int64_t kOrderLookupBudgetMs = 10000;
constexpr int64_t kOrderLookupPauseMs = 1500;

// Sets the pause between lookups (kOrderLookupPauseMs unless set); tests shorten it.
void set_order_lookup_pause_ms(int64_t pause_ms);

// Settles the reply of an order sent once with `ticket`'s id. A reply whose outcome is known is
// returned as it is. Otherwise the order is looked up with `look_up` (at most 3 tries within
// 10 s): found -> the lookup's reply stands for the order's; else the ticket says why the
// outcome is not settled and the original reply is returned. The order itself is never re-sent.
HttpResult settle_order(ExchangeSession& session, const HttpResult& reply, OrderTicket& ticket,
                        const std::function<OrderLookup()>& look_up);

// Returns `result` stamped with the ticket: the unsettled reason in place of whatever the lost
// reply produced, and the client order id when an order exists or may exist (the order reached
// the exchange, even when another part of the command failed).
OperationResult with_ticket(OperationResult result, const OrderTicket& ticket);

// Returns the ticket's id: `given` (made by the caller) when set, else a new one; `prefix` first.
std::string ticket_id(const std::string& given, const Clock& clock, const char* prefix = "");

}  // namespace korvane::connector
