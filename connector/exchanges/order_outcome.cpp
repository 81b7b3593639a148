#include "connector/exchanges/order_outcome.h"

#include <chrono>
#include <thread>

#include "connector/state/random_hex.h"

namespace korvane::connector {
namespace {

// Transport failures that happen before any byte of the request leaves: the order cannot exist.
// The numbers are the curl tool's exit codes the HTTP client reports.
bool never_sent(int exit_code) {
    switch (exit_code) {
        case 1:   // unsupported protocol
        case 3:   // malformed URL
        case 5:   // proxy name not resolved
        case 6:   // host name not resolved
        case 7:   // connection refused
        case 35:  // TLS handshake failed
        case 43:  // a request the client refused to send
        case 51:  // peer certificate not accepted
        case 53:  // TLS engine missing
        case 58:  // client certificate problem
        case 60:  // certificate not trusted
        case 77:  // CA bundle unreadable
        case 83:  // TLS issuer check failed
        case 90:  // pinned key mismatch
            return true;
        default: return false;
    }
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
    if (reply.exit_code != 0) return !never_sent(reply.exit_code);
    return reply.status >= 500 && reply.status <= 599;
}

HttpResult settle_order(ExchangeSession& session, const HttpResult& reply, OrderTicket& ticket,
                        const std::function<OrderLookup()>& look_up) {
    ticket.reached = reply.exit_code == 0 || !never_sent(reply.exit_code);
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
