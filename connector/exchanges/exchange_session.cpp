#include "connector/exchanges/exchange_session.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "connector/toolkit/json.h"

namespace korvane::connector {

int64_t ExchangeSession::exchange_now_ms() const {
    const int64_t now = clock.now_ms();
    return now + usable_clock_offset(memory, now);
}

long ExchangeSession::timeout_ms() const {
    return deadline ? static_cast<long>(deadline->cap_ms(request_timeout_ms)) : request_timeout_ms;
}

namespace {

// Returns `request` with the session's own header added.
HttpRequest marked(const ExchangeSession& session, HttpRequest request) {
    if (session.extra_header != nullptr) request.headers.emplace_back(session.extra_header);
    return request;
}

// Returns how long to wait before asking again for a read refused for the rate limit; empty
// when the reply is no such refusal.
std::optional<int64_t> rate_limit_wait(const ExchangeSession& session, const RefusalReader& read_refusal,
                                       const HttpResult& reply) {
    if (!reply.ok()) return std::nullopt;
    const auto refusal = read_refusal(reply, session.clock.now_ms());
    if (!refusal || refusal->refusal_class != "rate_limited") return std::nullopt;
    int64_t wait = refusal->retry_after_ms.value_or(kRateLimitFallbackWaitMs);
    if (wait > kMaxRateLimitWaitMs) wait = kMaxRateLimitWaitMs;
    // A credential check keeps its overall deadline.
    if (session.deadline) wait = session.deadline->cap_ms(wait);
    return wait;
}

HttpResult send_stamped(ExchangeSession& session, const StampedRequest& build, const ClockRecovery& recovery);

}  // namespace

HttpResult send_timed(ExchangeSession& session, const StampedRequest& build, const ClockRecovery& recovery,
                      const RefusalReader& read_refusal) {
    const HttpResult reply = send_stamped(session, build, recovery);
    // Only a read is asked again: the method is the same for every stamp.
    if (build(0).method != "GET") return reply;
    const auto wait = rate_limit_wait(session, read_refusal, reply);
    if (!wait) return reply;
    session.clock.sleep_ms(*wait);
    return send_stamped(session, build, recovery);
}

namespace {

HttpResult send_stamped(ExchangeSession& session, const StampedRequest& build,
                        const ClockRecovery& recovery) {
    HttpResult reply = session.http.send(marked(session, build(session.exchange_now_ms())));
    if (!reply.ok() || !recovery.stamp_refused(reply)) return reply;
    const int64_t before = session.clock.now_ms();
    const std::optional<int64_t> server = recovery.server_time_ms();
    if (!server) return reply;
    // The server read its clock somewhere between our two readings; the midpoint is our best guess.
    const int64_t local = (before + session.clock.now_ms()) / 2;
    session.memory.clock_offset_ms = *server - local;
    session.memory.clock_measured_at_ms = local;
    return session.http.send(marked(session, build(session.exchange_now_ms())));
}

}  // namespace

OperationResult in_position_mode(ExchangeSession& session, const ModeRules& rules,
                                 const std::function<ModeAttempt(bool hedge)>& attempt) {
    std::string& mode = session.memory.position_mode;
    if (mode.empty()) mode = rules.learn();
    const bool hedge = (mode.empty() ? rules.fallback : mode) == std::string("hedge");
    ModeAttempt first = attempt(hedge);
    if (!first.order_reply.ok() || !rules.refused_for_mode(first.order_reply)) return first.result;
    const std::string relearned = rules.learn();
    // The same mode again: the refusal had another cause, and the order is not sent twice.
    if (relearned.empty() || (relearned == "hedge") == hedge) return first.result;
    mode = relearned;
    return attempt(relearned == "hedge").result;
}

HttpRequest public_get(const ExchangeSession& session, const std::string& url) {
    HttpRequest request;
    request.url = url;
    request.timeout_ms = session.timeout_ms();
    return marked(session, request);
}

const Json& json_member(const Json& value, const std::string& key) {
    static const Json kAbsent;
    if (!value.is_object()) return kAbsent;
    // find, not operator[]: on a const value a missing key is undefined behaviour there.
    const auto found = value.find(key);
    return found == value.end() ? kAbsent : *found;
}

std::optional<int64_t> json_integer(const Json& value) {
    if (value.is_number_integer()) return value.get<int64_t>();
    if (value.is_number_unsigned()) return static_cast<int64_t>(value.get<uint64_t>());
    if (!value.is_string()) return std::nullopt;
    const std::string& text = value.get_ref<const std::string&>();
    errno = 0;
    char* end = nullptr;
    const long long number = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || errno != 0 || *end != '\0') return std::nullopt;
    return number;
}

std::string reply_code(const HttpResult& reply, const char* name) {
    const auto body = parse_json(reply.body);
    if (!body || !body->is_object() || !body->contains(name)) return "";
    const Json& code = (*body)[name];
    if (code.is_string()) return code.get<std::string>();
    if (const auto number = json_integer(code)) return std::to_string(*number);
    return "";
}

std::optional<int64_t> read_server_clock(ExchangeSession& session, const std::string& url, const char* pointer,
                                         int64_t divisor) {
    const HttpResult reply = session.http.send(public_get(session, url));
    const auto body = parse_json(reply.body);
    if (!reply.ok() || !body) return std::nullopt;
    const Json::json_pointer at(pointer);
    if (!body->contains(at)) return std::nullopt;
    const auto value = json_integer((*body)[at]);
    if (!value) return std::nullopt;
    return *value / divisor;
}

std::string json_decimal(const Json& value) {
    if (value.is_string()) return value.get<std::string>();
    if (value.is_number_integer() || value.is_number_unsigned()) return value.dump();
    if (!value.is_number_float()) return "";
    // Fixed notation, then without the zeros the formatting added: 1e-05 reads as 0.00001.
    char text[64];
    std::snprintf(text, sizeof text, "%.12f", value.get<double>());
    std::string decimal = text;
    decimal.erase(decimal.find_last_not_of('0') + 1);
    if (decimal.back() == '.') decimal.pop_back();
    return decimal;
}

ContractInfo contract_from_reply(const HttpResult& reply, const std::function<bool(const Json&, ContractRules&)>& read) {
    ContractInfo info;
    info.result = from_reply(reply);
    if (!info.result.reason.empty()) return info;
    const auto body = parse_json(reply.body);
    if (!body || !read(*body, info.rules)) info.result = refused("unknown_symbol");
    return info;
}

std::string step_of_places(int places) {
    if (places <= 0) return "1";
    return "0." + std::string(static_cast<size_t>(places - 1), '0') + "1";
}

}  // namespace korvane::connector
