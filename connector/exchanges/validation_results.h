#pragma once

#include <string>

#include "connector/exchanges/exchange_registry.h"

namespace korvane::connector {

// Result builders shared by the validators. All flags false; the given reason and time.
ValidateCredentialsResult invalid_result(const ValidateCredentialsRequest& request, const std::string& reason,
                                         const std::string& checked_at);
ValidateCredentialsResult error_result(const ValidateCredentialsRequest& request, const std::string& reason,
                                       const std::string& checked_at);
// Returns valid_trade_ready when `can_trade`, else valid_read_only; can_read true.
ValidateCredentialsResult success_result(const ValidateCredentialsRequest& request, bool can_trade,
                                         bool withdrawal_enabled, const std::string& reason,
                                         const std::string& checked_at);

}  // namespace korvane::connector
