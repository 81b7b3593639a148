#include "connector/exchanges/operation_runner.h"

#include "connector/exchanges/exchange_table.h"

namespace korvane::connector {

std::string run_exchange_operation(const ExchangeContext& context, const std::string& exchange,
                                   const std::string& kind, const std::string& early_refusal,
                                   const InputCheck& check, const Operation& operation) {
    const auto credential = context.vault.load(exchange);
    if (!credential) return envelope(exchange, kind, refused("credentials_not_found"));
    if (!early_refusal.empty()) return envelope(exchange, kind, refused(early_refusal));
    const ExchangeAdapter* adapter = find_adapter(exchange);
    if (adapter == nullptr) return envelope(exchange, kind, refused("unsupported_exchange"));
    if (const std::string refusal = check(*adapter); !refusal.empty()) {
        return envelope(exchange, kind, refused(refusal));
    }
    const AccountMemory known = context.memory.load(exchange, credential->api_key);
    ExchangeSession session{*credential, context.http, context.clock, known, kOperationRequestMs, std::nullopt};
    const OperationResult result = operation(*adapter, session);
    if (session.memory != known) {
        if (const Status saved = context.memory.save(exchange, credential->api_key, session.memory); !saved.ok()) {
            context.problems.push_back(saved.message);
        }
    }
    return envelope(exchange, kind, result);
}

}  // namespace korvane::connector
