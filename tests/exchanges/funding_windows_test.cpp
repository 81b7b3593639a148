// A funding history asked in windows and pages, joined into one reply.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "connector/app/exchange_output.h"
#include "connector/exchanges/funding_windows.h"
#include "connector/toolkit/text.h"
#include "tests/exchanges/adapter_support.h"

namespace korvane::connector {
namespace {

constexpr int64_t kNow = 100 * kDayMs;

TEST(FundingWindows, ALookbackIsSplitNewestFirstAndCutWhereTheExchangeKeepsLess) {
    const struct {
        int minutes;
        FundingReach reach;
        size_t windows;
        int64_t oldest_start;
        int64_t covered;
        bool cut;
    } cases[] = {
        {60, {7 * kDayMs, 0}, 1, kNow - 3600 * 1000, 60, false},
        {30 * 24 * 60, {7 * kDayMs, 0}, 5, kNow - 30 * kDayMs, 30 * 24 * 60, false},
        {7 * 24 * 60, {7 * kDayMs, 0}, 1, kNow - 7 * kDayMs, 7 * 24 * 60, false},
        {30 * 24 * 60, {0, 0}, 1, kNow - 30 * kDayMs, 30 * 24 * 60, false},
        {120 * 24 * 60, {30 * kDayMs, 90 * kDayMs}, 3, kNow - 90 * kDayMs, 90 * 24 * 60, true},
    };
    for (const auto& c : cases) {
        const FundingPlan plan = plan_funding(kNow, c.minutes, c.reach);
        ASSERT_EQ(plan.windows.size(), c.windows) << c.minutes;
        EXPECT_EQ(plan.windows.front().end_ms, kNow);
        EXPECT_EQ(plan.windows.back().start_ms, c.oldest_start) << c.minutes;
        for (size_t i = 1; i < plan.windows.size(); ++i) {
            EXPECT_EQ(plan.windows[i].end_ms, plan.windows[i - 1].start_ms - 1);  // no gap, no overlap
        }
        EXPECT_EQ(plan.covered_minutes, c.covered);
        EXPECT_EQ(plan.cut, c.cut);
    }
}

// Pages of a made-up exchange: {"code":0,"data":{"list":[...],"next":"..."}}, two entries a page.
struct Pages {
    std::vector<std::string> asked;  // "start:cursor" each
    FundingPages rules() {
        FundingPages pages;
        pages.list_pointer = "/data/list";
        pages.fetch = [this](const FundingWindow& window, const std::string& cursor) {
            asked.push_back(std::to_string(window.start_ms / kDayMs) + ":" + cursor);
            const std::string day = std::to_string(window.start_ms / kDayMs);
            if (cursor.empty()) {
                return HttpResult{0,
                                  R"({"code":0,"data":{"list":[{"d":)" + day + R"(,"k":"fee"},{"d":)" + day +
                                      R"(,"k":"trade"}],"next":"p2"},"extra":1})",
                                  200};
            }
            return HttpResult{
                0, R"({"code":0,"data":{"list":[{"d":)" + day + R"(,"k":"fee"}],"next":""},"extra":2})", 200};
        };
        pages.accepted = [](const HttpResult& reply) { return contains(reply.body, "\"code\":0"); };
        pages.next_cursor = [](const Json& reply, const Json&) {
            return reply["data"]["next"].get<std::string>();
        };
        return pages;
    }
};

TEST(FundingWindows, EveryWindowAndPageIsJoinedInTheShapeOfTheFirstReply) {
    Pages pages;
    FundingPages rules = pages.rules();
    rules.keep = [](const Json& entry) { return entry["k"] == "fee"; };
    const OperationResult result = gather_funding(plan_funding(kNow, 14 * 24 * 60, {7 * kDayMs, 0}), rules);
    EXPECT_EQ(result.reason, "");
    EXPECT_EQ(pages.asked, (std::vector<std::string>{"93:", "93:p2", "86:", "86:p2"}));
    EXPECT_EQ(result.body,
              R"({"code":0,"data":{"list":[{"d":93,"k":"fee"},{"d":93,"k":"fee"},{"d":86,"k":"fee"},)"
              R"({"d":86,"k":"fee"}],"next":"p2"},"extra":1})");
    EXPECT_EQ(result.covered_minutes, "");
}

TEST(FundingWindows, AFailedOrRefusedPageAnswersForTheWhole) {
    const struct {
        HttpResult second;
        std::string reason;
        std::string body;
    } cases[] = {
        {http_failure(28, "timed out"), "http_failed", ""},
        {HttpResult{0, "<html>", 502}, "invalid_response", ""},
        {HttpResult{0, R"({"code":7,"msg":"too many"})", 200}, "", R"({"code":7,"msg":"too many"})"},
    };
    for (const auto& c : cases) {
        Pages pages;
        FundingPages rules = pages.rules();
        const auto first = rules.fetch;
        rules.fetch = [&](const FundingWindow& window, const std::string& cursor) {
            return cursor.empty() ? first(window, cursor) : c.second;
        };
        const OperationResult result = gather_funding(plan_funding(kNow, 60, {}), rules);
        EXPECT_EQ(result.reason, c.reason) << c.second.body;
        EXPECT_EQ(result.body, c.body);
    }
}

TEST(FundingWindows, ALookbackBeyondWhatIsKeptSaysWhatWasCovered) {
    Pages pages;
    const OperationResult result =
        gather_funding(plan_funding(kNow, 200 * 24 * 60, {0, 90 * kDayMs}), pages.rules());
    EXPECT_EQ(result.covered_minutes, std::to_string(90 * 24 * 60));
    OperationResult ok;
    ok.body = "[]";
    ok.covered_minutes = "129600";
    EXPECT_EQ(envelope("okx", "funding", ok),
              R"({"status":"ok","exchange":"okx","kind":"funding","covered_minutes":129600,"body":[]})");
}

TEST(FundingWindows, CursorsGoIntoTheQueryEncoded) {
    EXPECT_EQ(cursor_in_query("21963%3A1"), "21963%3A1");
    EXPECT_EQ(cursor_in_query("a&b=c d"), "a%26b%3Dc%20d");
}

}  // namespace
}  // namespace korvane::connector
