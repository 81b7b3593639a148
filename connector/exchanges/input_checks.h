#pragma once

#include <initializer_list>
#include <string>

#include "connector/toolkit/status.h"

namespace korvane::connector {

// Checks of trading inputs before they are put into a URL or a signed body. Each returns ok, or
// the refusal (its reason word, and what the value must be).

// Symbols: [A-Za-z0-9_-]+ -> "invalid_symbol".
Status check_symbol(const std::string& symbol);
// Order ids: [A-Za-z0-9_.:-]+ with at least one letter or digit -> "invalid_order_id".
Status check_order_id(const std::string& order_id);
// Sides: exactly "buy" or "sell" -> "invalid_side".
Status check_side(const std::string& side);
// Plain positive decimals, not all zeros -> "invalid_quantity" / "invalid_price".
Status check_quantity(const std::string& quantity);
Status check_price(const std::string& price);
// The highest leverage any of the exchanges offers on a USDT perpetual.
constexpr int kMaxLeverage = 200;

// Leverage from 1 to kMaxLeverage -> "invalid_leverage".
Status check_leverage(int leverage);

// Returns `quantity` (a checked positive decimal) as a whole number without leading zeros, for
// exchanges that count whole contracts or lots ("007" gives "7", "2.0" gives "2"); empty when it
// has a fraction.
std::string whole_units(const std::string& quantity);

// A quantity of whole contracts or lots ("2" or "2.0"); a fraction -> "invalid_quantity".
Status check_whole_units(const std::string& quantity);

// Returns the first refusal among `checks`; ok when there is none.
Status first_refusal(std::initializer_list<Status> checks);

}  // namespace korvane::connector
