#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "connector/exchanges/operation_result.h"
#include "connector/toolkit/http_client.h"
#include "connector/toolkit/json.h"

namespace korvane::connector {

// One span of time a single funding request may cover, in milliseconds since the epoch.
struct FundingWindow {
    int64_t start_ms = 0;
    int64_t end_ms = 0;
};

// How far one exchange's funding history reaches.
struct FundingReach {
    int64_t window_ms = 0;  // the longest span one request may cover; 0: any
    int64_t kept_ms = 0;    // how far back the exchange keeps payments; 0: as far as asked
};

// The spans a lookback of `lookback_minutes` ending at `now_ms` is asked in, newest first, and
// the minutes they cover (less than asked when the exchange keeps less).
struct FundingPlan {
    std::vector<FundingWindow> windows;
    int64_t covered_minutes = 0;
    bool cut = false;  // true when the exchange keeps less than the lookback
};

// Splits the lookback into windows no longer than `reach.window_ms`, newest first, each ending
// a millisecond before the next newer one starts, none earlier than the exchange keeps.
FundingPlan plan_funding(int64_t now_ms, int lookback_minutes, const FundingReach& reach);

// How to read one exchange's funding pages.
struct FundingPages {
    // Where a reply holds its list of entries (a JSON pointer; "" for a reply that is the list).
    std::string list_pointer;
    // Sends the request for `window`, continuing after `cursor` (empty: the first page).
    std::function<HttpResult(const FundingWindow& window, const std::string& cursor)> fetch;
    // Returns true when the exchange says the request succeeded.
    std::function<bool(const HttpResult& reply)> accepted;
    // Returns the cursor of the next page of `reply` (whose entries are `list`); empty on the last.
    std::function<std::string(const Json& reply, const Json& list)> next_cursor;
    // Returns false for an entry of another kind, where the exchange mixes kinds; null keeps all.
    std::function<bool(const Json& entry)> keep;
    // Returns the answer to a reply the exchange refused (its refusal, read by the adapter); null
    // answers the reply as it came.
    std::function<OperationResult(const HttpResult& reply)> refusal;
};

// Returns a page cursor fit for a query value: characters other than letters, digits and
// "%._~-" percent-encoded (a cursor the exchange gave already encoded stays as it is).
std::string cursor_in_query(const std::string& cursor);

constexpr int64_t kDayMs = 24 * 3600 * 1000;

// Asks every window, following every page, and answers with the first reply's shape holding
// all entries in the order the exchange gave them, plus "covered_minutes" when the plan was cut.
// A transport failure or a reply that is not JSON fails the whole; a refusal is answered as
// the exchange gave it.
OperationResult gather_funding(const FundingPlan& plan, const FundingPages& pages);

}  // namespace korvane::connector
