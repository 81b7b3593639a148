#include "connector/exchanges/exchange_registry.h"

#include "connector/exchanges/exchange_adapter.h"
#include "connector/exchanges/exchange_table.h"
#include "connector/exchanges/validation_results.h"

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

ExchangeRegistry::ExchangeRegistry(HttpClient& http, const Clock& clock) : http_(http), clock_(clock) {}

std::vector<ExchangeConnection> ExchangeRegistry::bootstrap() const {
    std::vector<ExchangeConnection> connections;
    for (const ExchangeEntry& entry : exchange_table()) {
        if (!entry.listed) continue;
        ExchangeConnection connection;
        connection.exchange = std::string(entry.name);
        connections.push_back(connection);
    }
    return connections;
}

ValidateCredentialsResult ExchangeRegistry::validate(const ValidateCredentialsRequest& request,
                                                     const AccountMemory& known) const {
    const std::string now = format_iso8601(clock_.now_ms());
    const ExchangeEntry* entry = nullptr;
    for (const ExchangeEntry& candidate : exchange_table()) {
        if (candidate.listed && candidate.name == request.exchange) entry = &candidate;
    }
    if (entry == nullptr) return invalid_result(request, "unsupported exchange", now);
    if (request.credential.api_key.empty() || request.credential.api_secret.empty()) {
        return invalid_result(request, "missing api key or secret", now);
    }
    if (entry->adapter == nullptr) {
        // Known by name only: nothing to check against, so nothing will be stored either.
        ValidateCredentialsResult result =
            invalid_result(request, "adapter exists, live validation not implemented yet", now);
        result.status = ExchangeConnectionStatus::configured;
        return result;
    }
    ExchangeSession session{request.credential, http_, clock_, known, kValidationRequestMs,
                            Deadline::after_ms(kValidationBudgetMs)};
    ValidateCredentialsResult result = entry->adapter->validate(request, session);
    result.learned = session.memory;
    return result;
}

}  // namespace korvane::connector
