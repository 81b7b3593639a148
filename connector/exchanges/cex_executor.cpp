#include "connector/exchanges/cex_executor.h"

#include "connector/exchanges/input_checks.h"

namespace korvane::connector {
namespace {

// The checks every order makes, in order; the exchange may refuse sizes it cannot take.
std::string order_refusal(const ExchangeAdapter& adapter, const std::string& symbol, const std::string& side,
                          const std::string& quantity, const std::string& price) {
    std::string refusal = first_refusal({check_symbol(symbol), check_side(side), check_quantity(quantity),
                                         check_price(price)});
    return refusal.empty() ? adapter.check_quantity(quantity) : refusal;
}

}  // namespace

std::string CexExecutor::place_open(const std::string& exchange, const std::string& symbol,
                                    const std::string& side, const std::string& quantity,
                                    const std::string& price, int leverage) const {
    return run_exchange_operation(
        context_, exchange, "place_open", "",
        [&](const ExchangeAdapter& adapter) {
            const std::string refusal = order_refusal(adapter, symbol, side, quantity, price);
            return refusal.empty() ? check_leverage(leverage) : refusal;
        },
        [&](const ExchangeAdapter& adapter, ExchangeSession& session) {
            return adapter.place_open(session, OrderRequest{symbol, side == "buy", quantity, price}, leverage);
        });
}

std::string CexExecutor::place_close(const std::string& exchange, const std::string& symbol,
                                     const std::string& side, const std::string& quantity,
                                     const std::string& price) const {
    return run_exchange_operation(
        context_, exchange, "place_close", "",
        [&](const ExchangeAdapter& adapter) { return order_refusal(adapter, symbol, side, quantity, price); },
        [&](const ExchangeAdapter& adapter, ExchangeSession& session) {
            return adapter.place_close(session, OrderRequest{symbol, side == "buy", quantity, price});
        });
}

std::string CexExecutor::get_funding(const std::string& exchange, const std::string& symbol,
                                     int lookback_minutes) const {
    return run_exchange_operation(
        context_, exchange, "funding", "", [&](const ExchangeAdapter&) { return check_symbol(symbol); },
        [&](const ExchangeAdapter& adapter, ExchangeSession& session) {
            return adapter.funding(session, symbol, lookback_minutes);
        });
}

std::string CexExecutor::get_close_report(const std::string& exchange, const std::string& symbol,
                                          const std::string& order_id) const {
    // An empty order id is allowed here: the report then shows the records alone.
    return run_exchange_operation(
        context_, exchange, "close_report", "",
        [&](const ExchangeAdapter&) {
            return first_refusal({check_symbol(symbol), order_id.empty() ? "" : check_order_id(order_id)});
        },
        [&](const ExchangeAdapter& adapter, ExchangeSession& session) {
            return adapter.close_report(session, symbol, order_id);
        });
}

}  // namespace korvane::connector
