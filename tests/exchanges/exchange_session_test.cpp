// The clock-drift retry and the position-mode rules, alone and on each exchange.
#include "connector/exchanges/exchange_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include <cstdint>
#include <string>
#include <vector>

#include "connector/toolkit/text.h"
#include "connector/exchanges/order_outcome.h"
#include "tests/exchanges/adapter_support.h"

namespace korvane::connector {
namespace {

constexpr int64_t kMinuteMs = 60 * 1000;
constexpr int64_t kNever = INT64_MIN;

TEST(SendTimed, RetriesOnceWithTheExchangesClockAndRemembersTheOffset) {
    // Replies: "down" fails to connect, "+N" is the exchange's clock N ms ahead of ours. Stamps
    // are what each request carried, relative to our clock.
    const struct {
        const char* what;
        int64_t offset, measured_ago;
        std::vector<std::string> replies;
        std::string stamps;
        std::string answer;
        int64_t remembered;
    } cases[] = {
        {"accepted at once", 0, kNever, {"fine"}, "0", "fine", 0},
        {"refused, clock read, resent",
         0,
         kNever,
         {"stale", "+45000", "fine"},
         "0 clock 45000",
         "fine",
         45000},
        {"a slow clock too", 0, kNever, {"stale", "+-3000", "fine"}, "0 clock -3000", "fine", -3000},
        {"refused after the retry: no third send",
         0,
         kNever,
         {"stale", "+45000", "stale"},
         "0 clock 45000",
         "stale",
         45000},
        {"clock unreadable: the first refusal", 0, kNever, {"stale", "down"}, "0 clock", "stale", 0},
        {"transport failure: no clock read", 0, kNever, {"down"}, "0", "down", 0},
        {"fresh offset reused", 3000, 9 * kMinuteMs, {"fine"}, "3000", "fine", 3000},
        {"ten minutes old is still fresh", 3000, 10 * kMinuteMs, {"fine"}, "3000", "fine", 3000},
        {"stale offset not used", 3000, 10 * kMinuteMs + 1, {"fine"}, "0", "fine", 3000},
        {"offset from a clock set back not used", 3000, -kMinuteMs, {"fine"}, "0", "fine", 3000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        AdapterBench bench;
        bench.http.respond = [&, next = size_t{0}](const HttpRequest&) mutable {
            const std::string& reply = c.replies.at(next++);
            if (reply == "down") return http_failure(7, "refused");
            if (reply[0] == '+')
                return HttpResult{0, std::to_string(kNowMs + std::stoll(reply.substr(1))), 200};
            return HttpResult{0, reply, 200};
        };
        AccountMemory memory;
        memory.clock_offset_ms = c.offset;
        memory.clock_measured_at_ms = c.measured_ago == kNever ? 0 : kNowMs - c.measured_ago;
        ExchangeSession session = bench.session("bybit", memory);
        const StampedRequest build = [](int64_t now) {
            HttpRequest request;
            request.url = "https://x.test/op?ts=" + std::to_string(now - kNowMs);
            return request;
        };
        const ClockRecovery recovery{[](const HttpResult& reply) { return reply.body == "stale"; },
                                     [&session]() -> std::optional<int64_t> {
                                         const HttpResult reply =
                                             session.http.send(public_get(session, "https://x.test/clock"));
                                         if (reply.exit_code != 0) return std::nullopt;
                                         return json_integer(Json(reply.body));
                                     }};
        const HttpResult answer = send_timed(session, build, recovery, [](const HttpResult& reply, int64_t now) {
            return adapter_of("bybit").read_refusal(reply, now);
        });
        EXPECT_EQ(answer.exit_code != 0 ? "down" : answer.body, c.answer);
        std::string stamps;
        for (const HttpRequest& sent : bench.http.sent) {
            stamps += (stamps.empty() ? "" : " ") +
                      (sent.url == "https://x.test/clock" ? "clock" : query_value(sent.url, "ts"));
        }
        EXPECT_EQ(stamps, c.stamps);
        EXPECT_EQ(session.memory.clock_offset_ms, c.remembered);
        if (c.remembered != c.offset) {
            EXPECT_EQ(session.memory.clock_measured_at_ms, kNowMs);
        }
    }
}

// Each exchange's refusal of a stamp, its public clock, and a reply of it 45 s ahead of ours.
struct Drift {
    const char* exchange;
    const char* refusal;
    const char* clock_path;
    const char* clock_reply;
    const char* corrected_stamp;
};

const Drift kDrifts[] = {
    {"bybit",
     R"({"retCode":10002,"retMsg":"invalid request, please check your server timestamp or recv_window param"})",
     "/v5/market/time",
     R"({"retCode":0,"result":{"timeSecond":"1700000045","timeNano":"1700000045123000000"},"time":1700000045130})",
     "1700000045123"},
    {"okx", R"({"code":"50102","msg":"Timestamp request expired","data":[]})", "/api/v5/public/time",
     R"({"code":"0","data":[{"ts":"1700000045123"}],"msg":""})", "2023-11-14T22:14:05.123Z"},
    {"gate",
     R"({"label":"REQUEST_EXPIRED","message":"gap between request Timestamp and server time exceeds 60"})",
     "/api/v4/spot/time", R"({"server_time":1700000045123})", "1700000045"},
    {"bingx", R"({"code":100421,"msg":"Null timestamp or timestamp mismatch"})",
     "/openApi/swap/v2/server/time", R"({"code":0,"msg":"","data":{"serverTime":1700000045123}})",
     "1700000045123"},
    {"kucoin",
     R"({"code":"400002","msg":"KC-API-TIMESTAMP Invalid -- Time differs from server time by more than 5 seconds"})",
     "/api/v1/timestamp", R"({"code":"200000","msg":"success","data":1700000045123})", "1700000045123"},
    {"bitget", R"({"code":"40008","msg":"Request timestamp expired"})", "/api/v2/public/time",
     R"({"code":"00000","msg":"success","data":{"serverTime":"1700000045123"}})", "1700000045123"},
};

TEST(ClockDrift, EachExchangeReadsItsClockAndResendsOnce) {
    for (const Drift& d : kDrifts) {
        SCOPED_TRACE(d.exchange);
        AdapterBench bench;
        bench.http.queue(d.refusal);
        bench.http.queue(d.clock_reply);
        bench.http.queue(R"({"balance":1})");
        ExchangeSession session = bench.session(d.exchange, known(""));
        EXPECT_EQ(adapter_of(d.exchange).balance(session).body, R"({"balance":1})");
        ASSERT_EQ(bench.http.sent.size(), 3u);
        const HttpRequest& clock = bench.http.sent[1];
        EXPECT_EQ(clock.url, "https://" + std::string(d.exchange) + ".test" + d.clock_path);
        EXPECT_TRUE(clock.headers.empty());
        EXPECT_EQ(clock.timeout_ms, kOperationRequestMs);
        EXPECT_EQ(stamp_of(bench.http, d.exchange, 2), d.corrected_stamp);
        EXPECT_EQ(session.memory.clock_offset_ms, 45000);
        EXPECT_EQ(session.memory.clock_measured_at_ms, kNowMs);

        // The next request of the run starts right.
        adapter_of(d.exchange).balance(session);
        ASSERT_EQ(bench.http.sent.size(), 4u);
        EXPECT_EQ(stamp_of(bench.http, d.exchange, 3), d.corrected_stamp);
    }
}

TEST(ClockDrift, AClockReplyWithoutTheTimeKeepsTheFirstRefusal) {
    const char* const odd_replies[] = {"{}", "<html>", R"({"data":"x","result":"x"})",
                                       R"({"data":[1],"result":[1]})"};
    for (const Drift& d : kDrifts) {
        for (const char* reply : odd_replies) {
            SCOPED_TRACE(std::string(d.exchange) + " " + reply);
            AdapterBench bench;
            bench.http.queue(d.refusal);
            bench.http.queue(reply);
            ExchangeSession session = bench.session(d.exchange, known(""));
            EXPECT_EQ(adapter_of(d.exchange).balance(session).body, d.refusal);
            EXPECT_EQ(bench.http.sent.size(), 2u);
            EXPECT_EQ(session.memory.clock_measured_at_ms, 0);
        }
    }
}

TEST(KucoinKeyVersion, AnOldCredentialFindsItsVersionOnceAndKeepsIt) {
    const HttpResult refused{0, R"({"code":"400004","msg":"Invalid KC-API-PASSPHRASE"})", 401},
        accepted{0, R"({"code":"200000","data":{}})", 200}, other{0, R"({"code":"400100","msg":"x"})", 400};
    const struct {
        std::vector<HttpResult> replies;
        std::string versions;  // of the requests sent, in order
        std::string answer;
        std::string remembered;
    } cases[] = {
        {{accepted}, "2", accepted.body, "2"},
        {{refused, accepted}, "2 3", accepted.body, "3"},
        {{refused, refused}, "2 3", refused.body, ""},
        {{refused, http_failure(7, "refused")}, "2 3", "http_failed", ""},
        {{other}, "2", other.body, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.versions + " " + c.answer);
        AdapterBench bench;
        for (const HttpResult& reply : c.replies) bench.http.queue(reply);
        ExchangeSession session = bench.session("kucoin");
        const OperationResult result = adapter_of("kucoin").balance(session);
        // A refusal the exchange answered carries its reply as the body.
        EXPECT_EQ(result.reason.empty() || result.reason == "exchange_rejected" ? result.body : result.reason,
                  c.answer);
        std::string versions;
        for (size_t i = 0; i < bench.http.sent.size(); ++i) {
            versions += (i == 0 ? "" : " ") + bench.http.header(i, "KC-API-KEY-VERSION");
        }
        EXPECT_EQ(versions, c.versions);
        EXPECT_EQ(session.memory.key_version, c.remembered);
    }
}

// How each exchange tells and refuses a position mode; the order is a close of a long.
struct ModeCase {
    const char* exchange;
    const char* learn_target;
    const char* hedge_reply;
    const char* one_way_reply;
    const char* refusal;
    const char* hedge_mark;    // in the order of a hedge-mode account
    const char* one_way_mark;  // in the order of a one-way account
    const char* fallback;
};

const ModeCase kModes[] = {
    {"bybit", "/v5/position/list?category=linear&symbol=BTCUSDT",
     R"({"retCode":0,"result":{"list":[{"positionIdx":1},{"positionIdx":2}]}})",
     R"({"retCode":0,"result":{"list":[{"positionIdx":0}]}})",
     R"({"retCode":10001,"retMsg":"position idx not match position mode"})", R"("positionIdx":1)",
     R"("positionIdx":0)", "one_way"},
    {"okx", "/api/v5/account/config", R"({"code":"0","data":[{"posMode":"long_short_mode"}]})",
     R"({"code":"0","data":[{"posMode":"net_mode"}]})",
     R"({"code":"1","msg":"All operations failed","data":[{"sCode":"51000","sMsg":"Parameter posSide error"}]})",
     R"("posSide":"long")", R"("tdMode":"isolated","side")", "hedge"},
    {"bingx", "/openApi/swap/v1/positionSide/dual", R"({"code":0,"data":{"dualSidePosition":"true"}})",
     R"({"code":0,"data":{"dualSidePosition":false}})",
     R"({"code":80014,"msg":"Invalid parameters, err: positionSide LONG does not match the one-way position mode"})",
     "positionSide=LONG", "positionSide=BOTH", "hedge"},
    {"kucoin", "/api/v2/position/getPositionMode", R"({"code":"200000","data":{"positionMode":1}})",
     R"({"code":"200000","data":{"positionMode":"0"}})",
     R"({"code":"400100","msg":"Parameter positionSide LONG does not match the one-way position mode"})",
     R"("positionSide":"LONG")", R"("reduceOnly":true)", "one_way"},
    {"bitget", "/api/v2/mix/account/account?symbol=BTCUSDT&productType=USDT-FUTURES&marginCoin=USDT",
     R"({"code":"00000","data":{"posMode":"hedge_mode"}})",
     R"({"code":"00000","data":{"posMode":"one_way_mode"}})",
     R"({"code":"40774","msg":"The order type for unilateral position must also be the unilateral position type."})",
     R"("tradeSide":"close")", R"("reduceOnly":"YES")", "hedge"},
};

// Sends a close of a long in `remembered` mode with `replies` queued; returns the session's memory.
struct ModeRun {
    std::vector<std::string> sent;  // "learn" or "hedge order" / "one_way order" / "other"
    std::string answer;
    std::string mode;
};

ModeRun run_close(const ModeCase& m, const std::string& remembered, const std::vector<HttpResult>& replies) {
    AdapterBench bench;
    for (const HttpResult& reply : replies) bench.http.queue(reply);
    ExchangeSession session = bench.session(m.exchange, known(remembered));
    const OperationResult result =
        adapter_of(m.exchange).place_close(session, OrderRequest{"BTC_USDT", true, "1", "64000", "kv1"});
    // A refusal the exchange answered carries its reply as the body.
    ModeRun run{{},
                result.reason.empty() || result.reason == "exchange_rejected" ? result.body : result.reason,
                session.memory.position_mode};
    for (const HttpRequest& request : bench.http.sent) {
        const std::string text = request.url + " " + request.body;
        if (contains(request.url, "https://" + std::string(m.exchange) + ".test" + m.learn_target)) {
            run.sent.push_back("learn");
        } else if (contains(text, m.hedge_mark)) {
            run.sent.push_back("hedge order");
        } else if (contains(text, m.one_way_mark)) {
            run.sent.push_back("one_way order");
        } else {
            run.sent.push_back("other: " + text);
        }
    }
    return run;
}

using Sent = std::vector<std::string>;

TEST(PositionMode, LearnedOnceThenRemembered) {
    const HttpResult placed{0, R"({"placed":true})", 200};
    for (const ModeCase& m : kModes) {
        SCOPED_TRACE(m.exchange);
        ModeRun run = run_close(m, "", {{0, m.hedge_reply, 200}, placed});
        EXPECT_EQ(run.sent, (Sent{"learn", "hedge order"}));
        EXPECT_EQ(run.mode, "hedge");
        run = run_close(m, "", {{0, m.one_way_reply, 200}, placed});
        EXPECT_EQ(run.sent, (Sent{"learn", "one_way order"}));
        EXPECT_EQ(run.mode, "one_way");
        EXPECT_EQ(run_close(m, "hedge", {placed}).sent, (Sent{"hedge order"}));
        EXPECT_EQ(run_close(m, "one_way", {placed}).sent, (Sent{"one_way order"}));
    }
}

TEST(PositionMode, ARefusalForTheModeRelearnsAndResendsOnce) {
    const HttpResult placed{0, R"({"placed":true})", 200},
        other{0, R"({"code":"1","retCode":1,"msg":"no margin","data":[{"sCode":51000,"sMsg":5}]})", 200};
    for (const ModeCase& m : kModes) {
        SCOPED_TRACE(m.exchange);
        const HttpResult refusal{0, m.refusal, 200};
        // The user switched to hedge mode since the last run.
        ModeRun run = run_close(m, "one_way", {refusal, {0, m.hedge_reply, 200}, placed});
        EXPECT_EQ(run.sent, (Sent{"one_way order", "learn", "hedge order"}));
        EXPECT_EQ(run.answer, placed.body);
        EXPECT_EQ(run.mode, "hedge");
        // Still the same mode: the refusal had another cause and the order is not sent again.
        run = run_close(m, "hedge", {refusal, {0, m.hedge_reply, 200}, placed});
        EXPECT_EQ(run.sent, (Sent{"hedge order", "learn"}));
        EXPECT_EQ(run.answer, m.refusal);
        EXPECT_EQ(run.mode, "hedge");
        // The exchange cannot say: the refusal stands.
        run = run_close(m, "one_way", {refusal, http_failure(7, "refused")});
        EXPECT_EQ(run.sent, (Sent{"one_way order", "learn"}));
        EXPECT_EQ(run.answer, m.refusal);
        // Any other refusal, or no reply at all, is never followed by a second order.
        EXPECT_EQ(run_close(m, "one_way", {other}).sent, (Sent{"one_way order"}));
        // A lost reply is followed by lookups of the order (answered here with nothing), not by a second order.
        set_order_lookup_pause_ms(1);
        run = run_close(m, "one_way", {http_failure(28, "timed out")});
        EXPECT_EQ(run.sent.front(), "one_way order");
        EXPECT_EQ(std::count(run.sent.begin(), run.sent.end(), "one_way order") +
                      std::count(run.sent.begin(), run.sent.end(), "hedge order"),
                  1);
    }
}

TEST(PositionMode, AModeThatCannotBeLearnedFallsBackAndIsNotRemembered) {
    const HttpResult placed{0, R"({"placed":true})", 200};
    for (const ModeCase& m : kModes) {
        SCOPED_TRACE(m.exchange);
        const std::string fallback_order = std::string(m.fallback) + " order";
        for (const HttpResult& learned :
             {http_failure(7, "refused"), HttpResult{0, "<html>", 502},
              HttpResult{0, R"({"retCode":0,"code":0})", 200}, HttpResult{0, R"({"code":"200000"})", 200},
              HttpResult{0, R"({"code":"00000","data":"x"})", 200},
              HttpResult{0, R"({"retCode":0,"code":0,"result":"x","data":"x"})", 200}}) {
            const ModeRun run = run_close(m, "", {learned, placed});
            EXPECT_EQ(run.sent, (Sent{"learn", fallback_order})) << learned.body;
            EXPECT_EQ(run.mode, "") << learned.body;
        }
    }
}

TEST(PositionMode, ARefusedOpenResendsTheLeverageWithTheOrder) {
    AdapterBench bench;
    for (const char* reply :
         {R"({"retCode":0})", R"({"retCode":10001,"retMsg":"position idx not match position mode"})",
          R"({"retCode":0,"result":{"list":[{"positionIdx":1},{"positionIdx":2}]}})", R"({"retCode":0})",
          R"({"retCode":0,"result":{"orderId":"9"}})"}) {
        bench.http.queue(reply);
    }
    ExchangeSession session = bench.session("bybit", known("one_way"));
    const OperationResult result =
        adapter_of("bybit").place_open(session, OrderRequest{"BTC_USDT", false, "1", "65000", "kv1"}, 3);
    EXPECT_EQ(result.body, R"({"leverage":{"retCode":0},"place":{"retCode":0,"result":{"orderId":"9"}}})");
    ASSERT_EQ(bench.http.sent.size(), 5u);
    EXPECT_TRUE(contains(bench.http.sent[1].body, R"("positionIdx":0)"));
    EXPECT_TRUE(contains(bench.http.sent[3].url, "/v5/position/set-leverage"));
    EXPECT_TRUE(contains(bench.http.sent[4].body, R"("positionIdx":2)"));
}

}  // namespace
}  // namespace korvane::connector

namespace korvane::connector {
namespace {

// A client that answers only once `expected` requests are in flight together: it proves that
// attempts go out side by side (sequential sends would time out waiting).
class MeetingClient : public HttpClient {
  public:
    explicit MeetingClient(size_t expected) : expected_(expected) {}
    HttpResult send(const HttpRequest& request) override {
        std::unique_lock lock(mutex_);
        ++in_flight_;
        met_.notify_all();
        const bool together = met_.wait_for(lock, std::chrono::seconds(5), [&] { return in_flight_ >= expected_; });
        return HttpResult{0, together ? request.url : "alone", 200};
    }
    bool sends_side_by_side() const override { return true; }

  private:
    std::mutex mutex_;
    std::condition_variable met_;
    size_t in_flight_ = 0;
    size_t expected_;
};

TEST(SideBySide, AttemptsGoOutTogetherAndAnswerInOrder) {
    MeetingClient http(3);
    FixedClock clock{kNowMs};
    ExchangeSession session{test_credential("okx"), http, clock, {}, kOperationRequestMs};
    std::vector<std::function<std::string(ExchangeSession&)>> attempts;
    for (const char* url : {"a", "b", "c"}) {
        attempts.push_back([url](ExchangeSession& own) { return own.http.send(public_get(own, url)).body; });
    }
    EXPECT_EQ(side_by_side(session, attempts), (std::vector<std::string>{"a", "b", "c"}));

    // A client that cannot send from several threads gets them in order, one at a time.
    FakeHttpClient fake;
    ExchangeSession sequential{test_credential("okx"), fake, clock, {}, kOperationRequestMs};
    attempts.push_back([](ExchangeSession& own) {
        own.memory.clock_offset_ms = 42;
        own.memory.clock_measured_at_ms = kNowMs;
        return std::string("d");
    });
    side_by_side(sequential, attempts);
    ASSERT_EQ(fake.sent.size(), 3u);
    EXPECT_EQ(fake.sent[2].url, "c");
    EXPECT_EQ(sequential.memory.clock_offset_ms, 42);  // what one attempt learned is kept
}

}  // namespace
}  // namespace korvane::connector
