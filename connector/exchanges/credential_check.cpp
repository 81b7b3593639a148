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

bool key_accepted(ExchangeConnectionStatus status) {
    return status == ExchangeConnectionStatus::valid_read_only ||
           status == ExchangeConnectionStatus::valid_trade_ready;
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

ValidateCredentialsResult permitted_result(const ValidateCredentialsRequest& request,
                                           const KeyPermissions& permissions, const std::string& checked_at) {
    const std::string& exchange = request.exchange;
    std::string reason = "live " + exchange + " auth validated";
    if (!permissions.trade) reason += "; trading permission not reported by " + exchange;
    if (!permissions.withdraw) reason += "; withdrawal permission not reported by " + exchange;
    return success_result(request, permissions.trade.value_or(false), permissions.withdraw.value_or(false),
                          reason, checked_at);
}

ValidateCredentialsResult refused_result(const ValidateCredentialsRequest& request,
                                         const std::string& refusal_class, const std::string& answer,
                                         const std::string& checked_at) {
    const std::string& exchange = request.exchange;
    if (refusal_class == "ip_not_allowed") {
        return error_result(request,
                            exchange +
                                " refused this machine's IP address (not on the key's IP whitelist; the key "
                                "itself may be fine): " +
                                answer,
                            checked_at);
    }
    if (refusal_class == "rate_limited") {
        return error_result(request, exchange + " rate limit reached, try again shortly: " + answer,
                            checked_at);
    }
    return invalid_result(request, exchange + " rejected credentials: " + answer, checked_at);
}

void note_refusal(std::string& standing, const std::optional<Refusal>& refusal) {
    if (!refusal || standing == "ip_not_allowed") return;
    if (refusal->refusal_class == "ip_not_allowed" || refusal->refusal_class == "rate_limited") {
        standing = refusal->refusal_class;
    }
}

}  // namespace korvane::connector
