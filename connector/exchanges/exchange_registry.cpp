#include "connector/exchanges/exchange_registry.h"

#include "connector/exchanges/exchange_adapter.h"
#include "connector/exchanges/exchange_table.h"

namespace korvane::connector {

void use_environment(ExchangeSession& session, const ExchangeEntry& entry) {
    const bool demo = session.memory.environment == kDemoEnvironment;
    session.sites = sites_for(entry, session.memory.environment);
    session.extra_header = demo ? entry.demo_header : nullptr;
}

std::vector<ExchangeConnection> exchange_connections() {
    std::vector<ExchangeConnection> connections;
    for (const ExchangeEntry& entry : exchange_table()) {
        if (!entry.listed) continue;
        ExchangeConnection connection;
        connection.exchange = entry.name;
        connections.push_back(connection);
    }
    return connections;
}

ValidateCredentialsResult validate_credentials(HttpClient& http, const Clock& clock,
                                               const ValidateCredentialsRequest& request,
                                               const AccountMemory& known, int64_t budget_ms) {
    const std::string now = format_iso8601(clock.now_ms());
    const ExchangeEntry* entry = find_exchange(request.exchange);
    if (entry == nullptr || !entry->listed) return invalid_result(request, "unsupported exchange", now);
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
    if (request.demo && entry->demo_sites.empty()) {
        ValidateCredentialsResult result = error_result(request, "demo_not_offered", now);
        return result;
    }
    ExchangeSession session{request.credential, http, clock, known, kValidationRequestMs,
                            Deadline::after_ms(budget_ms)};
    // The environment is what this check says: a live check replaces a demo key and the reverse.
    session.memory.environment = request.demo ? kDemoEnvironment : "";
    use_environment(session, *entry);
    ValidateCredentialsResult result = entry->adapter->validate(request, session);
    result.learned = session.memory;
    return result;
}

}  // namespace korvane::connector
