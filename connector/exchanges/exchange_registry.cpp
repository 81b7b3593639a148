#include "connector/exchanges/exchange_registry.h"

#include <algorithm>

#include "connector/exchanges/validation_results.h"
#include "connector/toolkit/clock.h"

namespace korvane::connector {

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

ExchangeRegistry::ExchangeRegistry()
    : exchanges_{"bybit",       "okx",     "gate",    "bingx",    "kucoin", "bitget",
                 "hyperliquid", "paradex", "lighter", "extended", "reya"} {}

std::vector<ExchangeConnection> ExchangeRegistry::bootstrap() const {
    std::vector<ExchangeConnection> connections;
    for (const std::string& name : exchanges_) {
        ExchangeConnection connection;
        connection.exchange = name;
        connections.push_back(connection);
    }
    return connections;
}

ValidateCredentialsResult ExchangeRegistry::validate(const ValidateCredentialsRequest& request) const {
    const std::string& name = request.exchange;
    if (std::find(exchanges_.begin(), exchanges_.end(), name) == exchanges_.end()) {
        return invalid_result(request, "unsupported exchange", now_iso8601());
    }
    if (request.credential.api_key.empty() || request.credential.api_secret.empty()) {
        return invalid_result(request, "missing api key or secret", now_iso8601());
    }
    if (name == "bybit") return validate_bybit(request);
    if (name == "okx") return validate_okx(request);
    if (name == "gate") return validate_gate(request);
    if (name == "bingx") return validate_bingx(request);
    if (name == "kucoin") return validate_kucoin(request);
    if (name == "bitget") return validate_bitget(request);
    // Known by name only: nothing to check against, so nothing will be stored either.
    ValidateCredentialsResult result =
        invalid_result(request, "adapter exists, live validation not implemented yet", now_iso8601());
    result.status = ExchangeConnectionStatus::configured;
    return result;
}

}  // namespace korvane::connector
