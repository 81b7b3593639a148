#include "connector/exchanges/credential_check.h"

namespace korvane::connector {
namespace {

ValidateCredentialsResult flagless(const ValidateCredentialsRequest& request, ExchangeConnectionStatus status,
                                   const std::string& reason, const std::string& checked_at) {
    ValidateCredentialsResult result;
    result.exchange = request.exchange;
    result.status = status;
    result.reason = reason;
    result.checked_at = checked_at;
    return result;
}

}  // namespace

std::string to_string(ExchangeConnectionStatus status) {
    switch (status) {
        case ExchangeConnectionStatus::not_configured: return "not_configured";
        case ExchangeConnectionStatus::configured: return "configured";
        case ExchangeConnectionStatus::validating: return "validating";
        case ExchangeConnectionStatus::valid_read_only: return "valid_read_only";
        case ExchangeConnectionStatus::valid_trade_ready: return "valid_trade_ready";
        case ExchangeConnectionStatus::invalid: return "invalid";
        case ExchangeConnectionStatus::error: return "error";
    }
    return "unknown";
}

ValidateCredentialsResult invalid_result(const ValidateCredentialsRequest& request, const std::string& reason,
                                         const std::string& checked_at) {
    return flagless(request, ExchangeConnectionStatus::invalid, reason, checked_at);
}

ValidateCredentialsResult error_result(const ValidateCredentialsRequest& request, const std::string& reason,
                                       const std::string& checked_at) {
    return flagless(request, ExchangeConnectionStatus::error, reason, checked_at);
}

ValidateCredentialsResult success_result(const ValidateCredentialsRequest& request, bool can_trade,
                                         bool withdrawal_enabled, const std::string& reason,
                                         const std::string& checked_at) {
    ValidateCredentialsResult result = flagless(
        request,
        can_trade ? ExchangeConnectionStatus::valid_trade_ready : ExchangeConnectionStatus::valid_read_only,
        reason, checked_at);
    result.can_read = true;
    result.can_trade = can_trade;
    result.withdrawal_enabled = withdrawal_enabled;
    return result;
}

}  // namespace korvane::connector
