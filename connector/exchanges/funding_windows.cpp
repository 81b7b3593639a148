#include "connector/exchanges/funding_windows.h"

#include <algorithm>
#include <cctype>
#include <optional>

namespace korvane::connector {
namespace {

// A bound on the requests of one history, against a cursor that never ends.
constexpr int kMaxFundingRequests = 400;

}  // namespace

std::string cursor_in_query(const std::string& cursor) {
    static const char* const kHex = "0123456789ABCDEF";
    std::string out;
    for (const char c : cursor) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) != 0 || c == '%' || c == '.' || c == '_' || c == '~' || c == '-') {
            out += c;
        } else {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        }
    }
    return out;
}

FundingPlan plan_funding(int64_t now_ms, int lookback_minutes, const FundingReach& reach) {
    FundingPlan plan;
    // A negative lookback is passed on as asked: a window that ends before it starts.
    int64_t span = int64_t{lookback_minutes} * 60 * 1000;
    if (reach.kept_ms > 0 && span > reach.kept_ms) {
        span = reach.kept_ms;
        plan.cut = true;
    }
    plan.covered_minutes = span / (60 * 1000);
    const int64_t start = now_ms - span;
    int64_t end = now_ms;
    do {
        const int64_t from = reach.window_ms > 0 ? std::max(start, end - reach.window_ms) : start;
        plan.windows.push_back({from, end});
        // The next window ends just before this one starts: both ends are inclusive on every
        // exchange, and an entry on the boundary must come once.
        end = from - 1;
    } while (end >= start);
    return plan;
}

OperationResult gather_funding(const FundingPlan& plan, const FundingPages& pages) {
    std::optional<Json> shape;
    Json entries = Json::array();
    int requests = 0;
    for (const FundingWindow& window : plan.windows) {
        std::string cursor;
        do {
            if (++requests > kMaxFundingRequests) return refused("funding_too_long");
            const HttpResult reply = pages.fetch(window, cursor);
            OperationResult single = from_reply(reply);
            if (!single.reason.empty()) return single;
            if (!pages.accepted(reply)) return pages.refusal ? pages.refusal(reply) : single;
            auto parsed = parse_json(reply.body);
            const Json::json_pointer pointer(pages.list_pointer);
            if (!parsed || !parsed->contains(pointer) || !(*parsed)[pointer].is_array()) return single;
            const Json& list = (*parsed)[pointer];
            for (const Json& entry : list) {
                if (!pages.keep || pages.keep(entry)) entries.push_back(entry);
            }
            const std::string next = list.empty() ? "" : pages.next_cursor(*parsed, list);
            // A cursor that does not move would ask the same page forever.
            cursor = next == cursor ? "" : next;
            if (!shape) shape = std::move(*parsed);
        } while (!cursor.empty());
    }
    OperationResult result;
    (*shape)[Json::json_pointer(pages.list_pointer)] = std::move(entries);
    result.body = shape->dump(-1, ' ', false, Json::error_handler_t::replace);
    if (plan.cut) result.covered_minutes = std::to_string(plan.covered_minutes);
    return result;
}

}  // namespace korvane::connector
