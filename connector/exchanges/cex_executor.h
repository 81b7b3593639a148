#pragma once

#include <string>

#include "connector/exchanges/operation_runner.h"

namespace korvane::connector {

// Order placement and after-trade views. Every operation returns the result envelope with the
// exchange's raw replies as its body.
class CexExecutor {
  public:
    // Keeps the context, whose parts must outlive the executor.
    explicit CexExecutor(ExchangeContext context) : context_(context) {}

    // Sets the leverage, then places a limit order; body {"leverage":...,"place":...}.
    std::string place_open(const std::string& exchange, const std::string& symbol, const std::string& side,
                           const std::string& quantity, const std::string& price, int leverage) const;
    // Places a reduce-only limit order against the position opened on `side`.
    std::string place_close(const std::string& exchange, const std::string& symbol, const std::string& side,
                            const std::string& quantity, const std::string& price) const;
    // Returns recent funding ledger entries of kind "funding".
    std::string get_funding(const std::string& exchange, const std::string& symbol,
                            int lookback_minutes) const;
    // Returns the order (when `order_id` is given) next to closed-position or trade records.
    std::string get_close_report(const std::string& exchange, const std::string& symbol,
                                 const std::string& order_id) const;

  private:
    ExchangeContext context_;
};

}  // namespace korvane::connector
