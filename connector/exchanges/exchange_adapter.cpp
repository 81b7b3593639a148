#include "connector/exchanges/exchange_adapter.h"

#include <cerrno>
#include <cstdlib>

namespace korvane::connector {

std::string classify_refusal(const std::vector<RefusalCode>& table, const std::string& code,
                             long http_status) {
    for (const RefusalCode& row : table) {
        if (code == row.code) return row.refusal_class;
    }
    return http_status == 429 ? "rate_limited" : "other";
}

std::optional<int64_t> wait_until(const std::string& reset, int64_t now_ms) {
    if (reset.empty()) return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(reset.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || value < 0) return std::nullopt;
    // Before 2001 in milliseconds is after 2286 in seconds: a value this small counts seconds.
    const int64_t at_ms =
        value < 10000000000LL ? static_cast<int64_t>(value) * 1000 : static_cast<int64_t>(value);
    return at_ms > now_ms ? at_ms - now_ms : 0;
}

Status ExchangeAdapter::check_quantity(const std::string&) const {
    return Status::success();
}

OperationResult ExchangeAdapter::result_of(const ExchangeSession& session, const HttpResult& reply) const {
    OperationResult result = from_reply(reply);
    if (!result.reason.empty()) return result;
    if (auto refusal = read_refusal(reply, session.clock.now_ms())) return rejected(*refusal, result.body);
    return result;
}

OperationResult ExchangeAdapter::result_of(
    const ExchangeSession& session,
    std::initializer_list<std::pair<const char*, const HttpResult*>> parts) const {
    OperationResult result = from_replies(parts);
    if (!result.reason.empty()) return result;
    for (const auto& [name, reply] : parts) {
        if (auto refusal = read_refusal(*reply, session.clock.now_ms()))
            return rejected(*refusal, result.body);
    }
    return result;
}

HttpResult ExchangeAdapter::send_with_recovery(ExchangeSession& session, const StampedRequest& build,
                                               std::function<bool(const HttpResult&)> stamp_refused) const {
    const ClockRecovery recovery{std::move(stamp_refused),
                                 [this, &session] { return server_time_ms(session); }};
    return send_timed(session, build, recovery,
                      [this](const HttpResult& reply, int64_t now) { return read_refusal(reply, now); });
}

std::optional<OperationResult> ExchangeAdapter::leverage_refusal(const ExchangeSession& session,
                                                                 const HttpResult& leverage_reply,
                                                                 const char* unchanged_code) const {
    if (!leverage_reply.ok() || !is_json_value(leverage_reply.body)) return std::nullopt;
    const auto refusal = read_refusal(leverage_reply, session.clock.now_ms());
    if (!refusal || (unchanged_code != nullptr && refusal->code == unchanged_code)) return std::nullopt;
    return rejected(*refusal, "{\"leverage\":" + leverage_reply.body + "}", "leverage_rejected");
}

OperationResult ExchangeAdapter::open_result(const ExchangeSession& session, const HttpResult& leverage_reply,
                                             const HttpResult& order_reply) const {
    OperationResult result = from_replies({{"leverage", &leverage_reply}, {"place", &order_reply}});
    if (!result.reason.empty()) return result;
    if (auto refusal = read_refusal(order_reply, session.clock.now_ms()))
        return rejected(*refusal, result.body);
    return result;
}

}  // namespace korvane::connector
