#pragma once

#include <cstdint>
#include <functional>
#include <future>
#include <optional>
#include <vector>

#include "connector/exchanges/exchange_sites.h"
#include "connector/exchanges/operation_result.h"
#include "connector/state/account_memory.h"
#include "connector/state/key_vault.h"
#include "connector/toolkit/clock.h"
#include "connector/toolkit/http_client.h"
#include "connector/toolkit/json.h"

namespace korvane::connector {


// Each request's own limit: operations 20 s, the credential checks 15 s per attempt.
constexpr long kOperationRequestMs = 20000;
constexpr long kValidationRequestMs = 15000;
// A whole credential check ends within this, however many attempts it makes.
constexpr int64_t kValidationBudgetMs = 45000;

// What one exchange operation works with: the credential, the outside world, and what was
// learned about the account (which the operation may extend).
struct ExchangeSession {
    StoredCredential credential;
    HttpClient& http;
    const Clock& clock;
    AccountMemory memory;
    long request_timeout_ms = kOperationRequestMs;
    std::optional<Deadline> deadline = {};  // set for credential checks
    std::span<const ExchangeSite> sites = {};  // the exchange's hosts, from its table row
    const char* extra_header = nullptr;   // sent with every request (a demo environment's mark)

    // Returns the base URL of the site called `name`; the first site's when empty.
    std::string base_url(std::string_view name = {}) const { return site_url(sites, name); }

    // Returns the exchange's time as far as we know it: our clock plus a fresh offset.
    int64_t exchange_now_ms() const;
    // Returns the time limit for the next request: its own limit, capped by the deadline.
    long timeout_ms() const;
};

// Builds a signed request stamped with `exchange_now_ms`.
using StampedRequest = std::function<HttpRequest(int64_t exchange_now_ms)>;

// What an exchange needs to recover from a refused timestamp: how to recognise the refusal,
// and how to read its clock (milliseconds since the epoch; empty when it cannot be read).
struct ClockRecovery {
    std::function<bool(const HttpResult&)> stamp_refused;
    std::function<std::optional<int64_t>()> server_time_ms;
};

// A read the exchange refused for its rate limit is asked once more after the wait it named,
// at most this long; when it named none, after the fallback.
constexpr int64_t kMaxRateLimitWaitMs = 2000;
constexpr int64_t kRateLimitFallbackWaitMs = 1000;

// Sends the request stamped with the exchange's time. When the exchange refuses the stamp,
// reads its clock, remembers the offset in the session and sends once more: a refused stamp
// means the request was not executed, so the second send is safe. A GET that `read_refusal`
// (the exchange's own reading of a reply) says was refused for the rate limit is sent once more
// after the wait; anything else (an order, a cancel) never is.
using RefusalReader = std::function<std::optional<Refusal>(const HttpResult& reply, int64_t now_ms)>;
HttpResult send_timed(ExchangeSession& session, const StampedRequest& build, const ClockRecovery& recovery,
                      const RefusalReader& read_refusal);

// How an exchange tells its account's position mode ("one_way" or "hedge").
struct ModeRules {
    // Asks the exchange with one request; empty when the answer does not say.
    std::function<std::string()> learn;
    // Returns true for the exchange's refusal of an order that does not fit the account's mode.
    std::function<bool(const HttpResult&)> refused_for_mode;
    // The mode assumed when it cannot be learned.
    const char* fallback = "one_way";
};

// One try of an order in a given mode: its outcome, and the reply that may be a mode refusal.
struct ModeAttempt {
    OperationResult result;
    HttpResult order_reply;
};

// Runs `attempt` in the account's position mode: the remembered one, else learned with one
// request. When the exchange refuses the order for its mode (the user switched modes), the
// mode is learned again and, when it changed, the attempt runs once more. An order is never
// sent twice unless the first was refused for the mode.
OperationResult in_position_mode(ExchangeSession& session, const ModeRules& rules,
                                 const std::function<ModeAttempt(bool hedge)>& attempt);

// Runs `attempts` side by side, each on its own copy of `session` (a thread each but the first,
// which runs on the caller's), and returns their results in the order given: requests that do
// not depend on each other wait for the slowest, not for their sum. A client that cannot send
// from several threads gets the attempts one after another. The first clock offset any attempt
// measured is kept in `session`.
template <typename Result>
std::vector<Result> side_by_side(ExchangeSession& session,
                                 const std::vector<std::function<Result(ExchangeSession&)>>& attempts) {
    std::vector<ExchangeSession> sessions(attempts.size(), session);
    std::vector<std::future<Result>> later;
    const std::launch policy = session.http.sends_side_by_side() ? std::launch::async : std::launch::deferred;
    for (size_t i = 1; i < attempts.size(); ++i) {
        later.push_back(std::async(policy, attempts[i], std::ref(sessions[i])));
    }
    std::vector<Result> results;
    if (!attempts.empty()) results.push_back(attempts[0](sessions[0]));
    for (auto& result : later) results.push_back(result.get());
    for (const ExchangeSession& done : sessions) {
        if (done.memory.clock_measured_at_ms != session.memory.clock_measured_at_ms) {
            session.memory.clock_offset_ms = done.memory.clock_offset_ms;
            session.memory.clock_measured_at_ms = done.memory.clock_measured_at_ms;
            break;
        }
    }
    return results;
}

// Returns a GET of a public (unsigned) URL with the session's time limit.
HttpRequest public_get(const ExchangeSession& session, const std::string& url);

// Returns the number held by `value` as a JSON number or a decimal string; empty otherwise.
std::optional<int64_t> json_integer(const Json& value);

// Returns `value` as decimal text: a string as it is, a number without exponent or trailing
// zeros ("0.00001", "125"); empty for anything else.
std::string json_decimal(const Json& value);

// Reads the reply to a public instrument request: `read` fills the rules from the parsed reply
// and returns false when the reply lists no such contract ("unknown_symbol").
ContractInfo contract_from_reply(const HttpResult& reply, const std::function<bool(const Json&, ContractRules&)>& read);

// Returns 10^-places as decimal text ("0.001" for 3, "1" for 0): a step given as a precision.
std::string step_of_places(int places);

// Returns the top-level member `name` of a JSON object reply as text (a number in decimal); empty
// when the reply is no JSON object or has no such string or number. Exchanges answer with their
// code there ("retCode", "code", "label").
std::string reply_code(const HttpResult& reply, const char* name);

// Reads a clock: the number at `pointer` (a JSON pointer such as "/data/serverTime") in the reply
// to a public GET of `url`, divided by `divisor`; empty when the request fails or holds no number
// there.
std::optional<int64_t> read_server_clock(ExchangeSession& session, const std::string& url, const char* pointer,
                                         int64_t divisor = 1);

// Returns member `key` of `value`; null when `value` is not an object or has no such member. A
// reply that lacks what the exchange documents then reads as "not said" instead of failing.
const Json& json_member(const Json& value, const std::string& key);

}  // namespace korvane::connector
