#include "connector/exchanges/exchange_operations.h"

#include "connector/exchanges/exchange_registry.h"
#include "connector/exchanges/exchange_table.h"
#include "connector/exchanges/input_checks.h"
#include "connector/exchanges/order_outcome.h"

namespace korvane::connector {
namespace {

Status nothing_early(const OperationRequest&) {
    return Status::success();
}

Status order_id_required(const OperationRequest& request) {
    return request.order_id.empty() ? Status::failure("missing_order_id", "an order id is needed") : Status::success();
}

Status symbol_only(const ExchangeAdapter&, const OperationRequest& request) {
    return check_symbol(request.symbol);
}

Status symbol_and_order_id(const ExchangeAdapter&, const OperationRequest& request) {
    return first_refusal({check_symbol(request.symbol), check_order_id(request.order_id)});
}

// The checks every order makes, in order; the exchange may refuse sizes it cannot take.
Status order_inputs(const ExchangeAdapter& adapter, const OperationRequest& request) {
    const Status refusal = first_refusal({check_symbol(request.symbol), check_side(request.side),
                                          check_quantity(request.quantity), check_price(request.price)});
    return refusal.ok() ? adapter.check_quantity(request.quantity) : refusal;
}

OrderRequest order_of(const OperationRequest& request, const ExchangeSession& session) {
    return OrderRequest{request.symbol, request.side == "buy", request.quantity, request.price,
                        make_client_order_id(session.clock)};
}

}  // namespace

const ExchangeOperation kBalance{
    "balance", nothing_early, [](const ExchangeAdapter&, const OperationRequest&) { return Status::success(); },
    [](const ExchangeAdapter& adapter, ExchangeSession& session, const OperationRequest&) {
        return adapter.balance(session);
    }};

const ExchangeOperation kPosition{"position", nothing_early, symbol_only,
                                  [](const ExchangeAdapter& adapter, ExchangeSession& session,
                                     const OperationRequest& request) {
                                      return adapter.position(session, request.symbol);
                                  }};

const ExchangeOperation kOrderStatus{"order_status", order_id_required, symbol_and_order_id,
                                     [](const ExchangeAdapter& adapter, ExchangeSession& session,
                                        const OperationRequest& request) {
                                         return adapter.order_status(session, request.symbol, request.order_id);
                                     }};

const ExchangeOperation kCancelOrder{"cancel_order", order_id_required, symbol_and_order_id,
                                     [](const ExchangeAdapter& adapter, ExchangeSession& session,
                                        const OperationRequest& request) {
                                         return adapter.cancel_order(session, request.symbol, request.order_id);
                                     }};

const ExchangeOperation kFunding{"funding", nothing_early, symbol_only,
                                 [](const ExchangeAdapter& adapter, ExchangeSession& session,
                                    const OperationRequest& request) {
                                     return adapter.funding(session, request.symbol, request.lookback_minutes);
                                 }};

// An empty order id is allowed here: the report then shows the records alone.
const ExchangeOperation kCloseReport{
    "close_report", nothing_early,
    [](const ExchangeAdapter&, const OperationRequest& request) {
        return first_refusal({check_symbol(request.symbol),
                              request.order_id.empty() ? Status::success() : check_order_id(request.order_id)});
    },
    [](const ExchangeAdapter& adapter, ExchangeSession& session, const OperationRequest& request) {
        return adapter.close_report(session, request.symbol, request.order_id);
    }};

const ExchangeOperation kPlaceOpen{
    "place_open", nothing_early,
    [](const ExchangeAdapter& adapter, const OperationRequest& request) {
        const Status refusal = order_inputs(adapter, request);
        return refusal.ok() ? check_leverage(request.leverage) : refusal;
    },
    [](const ExchangeAdapter& adapter, ExchangeSession& session, const OperationRequest& request) {
        return adapter.place_open(session, order_of(request, session), request.leverage);
    }};

const ExchangeOperation kPlaceClose{"place_close", nothing_early, order_inputs,
                                    [](const ExchangeAdapter& adapter, ExchangeSession& session,
                                       const OperationRequest& request) {
                                        return adapter.place_close(session, order_of(request, session));
                                    }};

ContractInfo look_up_contract(HttpClient& http, const Clock& clock, const std::string& exchange,
                              const std::string& symbol) {
    ContractInfo info;
    const ExchangeEntry* entry = find_exchange(exchange);
    if (entry == nullptr || entry->adapter == nullptr) {
        info.result = refused("unsupported_exchange");
        return info;
    }
    if (const Status refusal = check_symbol(symbol); !refusal.ok()) {
        info.result = refused(refusal.reason);
        return info;
    }
    ExchangeSession session{StoredCredential{}, http, clock, AccountMemory{}, kOperationRequestMs};
    use_environment(session, *entry);
    return entry->adapter->contract_info(session, symbol);
}

OperationResult run_exchange_operation(const ExchangeContext& context, const ExchangeOperation& operation,
                                       const OperationRequest& request) {
    const auto credential = context.vault.load(request.exchange);
    if (!credential) return refused("credentials_not_found");
    if (const Status early = operation.early_refusal(request); !early.ok()) return refused(early.reason);
    const ExchangeEntry* entry = find_exchange(request.exchange);
    if (entry == nullptr || entry->adapter == nullptr) return refused("unsupported_exchange");
    if (const Status refusal = operation.check(*entry->adapter, request); !refusal.ok()) {
        return refused(refusal.reason);
    }
    const AccountMemory known = context.memory.load(request.exchange, credential->api_key);
    ExchangeSession session{*credential, context.http, context.clock, known, kOperationRequestMs};
    use_environment(session, *entry);
    const OperationResult result = operation.run(*entry->adapter, session, request);
    if (session.memory != known) {
        if (const Status saved = context.memory.save(request.exchange, credential->api_key, session.memory);
            !saved.ok()) {
            context.problems.push_back(saved);
        }
    }
    return result;
}

}  // namespace korvane::connector
