#include "connector/exchanges/order_outcome.h"

#include <chrono>
#include <thread>

#include "connector/state/random_hex.h"

namespace korvane::connector {
namespace {

// A transport failure before any byte of the request left (or a redirect not followed): the
// order cannot exist.
bool never_sent(const HttpResult& reply) {
    return reply.error == TransportError::not_sent || reply.error == TransportError::redirect_refused;
}

int64_t lookup_pause_ms = kOrderLookupPauseMs;

}  // namespace

void set_order_lookup_pause_ms(int64_t pause_ms) {
    lookup_pause_ms = pause_ms;
}

std::string make_client_order_id(const Clock& clock) {
    return "kv" + std::to_string(clock.now_ms()) + random_hex(11);
}

std::string ticket_id(const std::string& given, const Clock& clock, const char* prefix) {
    return std::string(prefix) + (given.empty() ? make_client_order_id(clock) : given);
}

bool outcome_unknown(const HttpResult& reply) {
    if (!reply.ok()) return !never_sent(reply);
    return reply.status >= 500 && reply.status <= 599;
}

HttpResult settle_order(ExchangeSession& session, const HttpResult& reply, OrderTicket& ticket,
                        const std::function<OrderLookup()>& look_up) {
    ticket.reached = reply.ok() || !never_sent(reply);
    if (!outcome_unknown(reply)) return reply;
    // The lookups share one budget: each request is capped by what is left of it.
    const Deadline budget = Deadline::after_ms(kOrderLookupBudgetMs);
    const std::optional<Deadline> saved = session.deadline;
    if (!session.deadline || session.deadline->remaining_ms() > budget.remaining_ms())
        session.deadline = budget;
    OrderFound last = OrderFound::cannot_tell;
    for (int attempt = 0; attempt < kOrderLookupTries && budget.remaining_ms() > 0; ++attempt) {
        if (attempt > 0) {
            // An exchange may take a moment to list an order it has just accepted.
            const int64_t pause = std::min(lookup_pause_ms, budget.remaining_ms());
            std::this_thread::sleep_for(std::chrono::milliseconds(pause));
            if (budget.remaining_ms() <= 0) break;
        }
        const OrderLookup lookup = look_up();
        last = lookup.found;
        if (lookup.found == OrderFound::yes) {
            session.deadline = saved;
            return lookup.reply;
        }
    }
    session.deadline = saved;
    ticket.unsettled = last == OrderFound::no ? "order_not_placed" : "order_outcome_unknown";
    return reply;
}

OperationResult with_ticket(OperationResult result, const OrderTicket& ticket) {
    if (!ticket.unsettled.empty()) result = refused(ticket.unsettled);
    // A failure that left no order (the order never left) keeps its short answer.
    if (result.reason.empty() || ticket.reached) result.client_order_id = ticket.client_order_id;
    return result;
}

}  // namespace korvane::connector
