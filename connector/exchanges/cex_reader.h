#pragma once

#include <string>

#include "connector/exchanges/operation_runner.h"

namespace korvane::connector {

// Account reads and order lookups on the six live exchanges. Every operation returns the
// result envelope with the exchange's raw reply as its body.
class CexReader {
  public:
    // Keeps the context, whose parts must outlive the reader.
    explicit CexReader(ExchangeContext context) : context_(context) {}

    // Returns an envelope of kind "balance".
    std::string get_balance(const std::string& exchange) const;
    // Returns an envelope of kind "position".
    std::string get_position(const std::string& exchange, const std::string& symbol) const;
    // Returns an envelope of kind "order_status"; "missing_order_id" for an empty id.
    std::string get_order_status(const std::string& exchange, const std::string& symbol,
                                 const std::string& order_id) const;
    // Returns an envelope of kind "cancel_order"; "missing_order_id" for an empty id.
    std::string cancel_order(const std::string& exchange, const std::string& symbol,
                             const std::string& order_id) const;

  private:
    ExchangeContext context_;
};

}  // namespace korvane::connector
