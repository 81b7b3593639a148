#pragma once

#include <initializer_list>
#include <string>

namespace korvane::connector {

// Checks of trading inputs before they are put into a URL or a signed body. Each returns the
// refusal reason, or an empty string when the value is acceptable.

// Symbols: [A-Za-z0-9_-]+ -> "invalid_symbol".
std::string check_symbol(const std::string& symbol);
// Order ids: [A-Za-z0-9_.:-]+ with at least one letter or digit -> "invalid_order_id".
std::string check_order_id(const std::string& order_id);
// Sides: exactly "buy" or "sell" -> "invalid_side".
std::string check_side(const std::string& side);
// Plain positive decimals, not all zeros -> "invalid_quantity" / "invalid_price".
std::string check_quantity(const std::string& quantity);
std::string check_price(const std::string& price);
// The highest leverage any of the exchanges offers on a USDT perpetual.
constexpr int kMaxLeverage = 200;

// Leverage from 1 to kMaxLeverage -> "invalid_leverage".
std::string check_leverage(int leverage);

// Returns `quantity` (a checked positive decimal) as a whole number without leading zeros, for
// exchanges that count whole contracts or lots ("007" gives "7", "2.0" gives "2"); empty when it
// has a fraction.
std::string whole_units(const std::string& quantity);

// Returns the first non-empty reason of `reasons`, or an empty string.
std::string first_refusal(std::initializer_list<std::string> reasons);

}  // namespace korvane::connector
