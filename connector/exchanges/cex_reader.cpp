#include "connector/exchanges/cex_reader.h"

#include "connector/exchanges/input_checks.h"

namespace korvane::connector {
namespace {

std::string no_refusal(const ExchangeAdapter&) {
    return "";
}

}  // namespace

std::string CexReader::get_balance(const std::string& exchange) const {
    return run_exchange_operation(context_, exchange, "balance", "", no_refusal,
                                  [](const ExchangeAdapter& adapter, ExchangeSession& session) {
                                      return adapter.balance(session);
                                  });
}

std::string CexReader::get_position(const std::string& exchange, const std::string& symbol) const {
    return run_exchange_operation(
        context_, exchange, "position", "", [&](const ExchangeAdapter&) { return check_symbol(symbol); },
        [&](const ExchangeAdapter& adapter, ExchangeSession& session) { return adapter.position(session, symbol); });
}

std::string CexReader::get_order_status(const std::string& exchange, const std::string& symbol,
                                        const std::string& order_id) const {
    return run_exchange_operation(
        context_, exchange, "order_status", order_id.empty() ? "missing_order_id" : "",
        [&](const ExchangeAdapter&) { return first_refusal({check_symbol(symbol), check_order_id(order_id)}); },
        [&](const ExchangeAdapter& adapter, ExchangeSession& session) {
            return adapter.order_status(session, symbol, order_id);
        });
}

std::string CexReader::cancel_order(const std::string& exchange, const std::string& symbol,
                                    const std::string& order_id) const {
    return run_exchange_operation(
        context_, exchange, "cancel_order", order_id.empty() ? "missing_order_id" : "",
        [&](const ExchangeAdapter&) { return first_refusal({check_symbol(symbol), check_order_id(order_id)}); },
        [&](const ExchangeAdapter& adapter, ExchangeSession& session) {
            return adapter.cancel_order(session, symbol, order_id);
        });
}

}  // namespace korvane::connector
