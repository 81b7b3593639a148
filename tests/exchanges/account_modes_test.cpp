// KuCoin's per-contract margin mode and Gate's dual position mode: read, used and remembered.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "connector/toolkit/text.h"
#include "tests/exchanges/adapter_support.h"

namespace korvane::connector {
namespace {

struct ModeCase {
    const char* what;
    const char* exchange;
    std::string remembered;            // KuCoin: margin_modes; Gate: dual_mode
    std::vector<std::string> answers;  // "url part => body [=> status]", first match wins
    std::vector<std::string> sent;     // "METHOD path-and-query-part" of each request, in order
    std::string learned;
};

HttpResult answer_for(const std::vector<std::string>& answers, const HttpRequest& request,
                      std::vector<int>& used) {
    for (size_t i = 0; i < answers.size(); ++i) {
        const size_t arrow = answers[i].find(" => ");
        const std::string part = answers[i].substr(0, arrow);
        std::string body = answers[i].substr(arrow + 4);
        long status = 200;
        if (const size_t more = body.find(" => "); more != std::string::npos) {
            status = std::stol(body.substr(more + 4));
            body = body.substr(0, more);
        }
        // An answer used once gives way to a later one for the same request.
        if (contains(request.url + " " + request.body, part) && used[i] == 0) {
            if (i + 1 < answers.size() && answers[i + 1].rfind(part + " => ", 0) == 0) used[i] = 1;
            return HttpResult{0, body, status};
        }
    }
    return HttpResult{0, "{}", 200};
}

const ModeCase kCases[] = {
    {"kucoin cross contract, learned",
     "kucoin",
     "",
     {R"(getMarginMode => {"code":"200000","data":{"symbol":"XBTUSDTM","marginMode":"CROSS"}})",
      R"(changeCrossUserLeverage => {"code":"200000","data":true})",
      R"(/api/v1/orders => {"code":"200000","data":{"orderId":"1"}})"},
     {"GET /api/v2/position/getMarginMode?symbol=XBTUSDTM",
      R"(POST /api/v2/changeCrossUserLeverage {"symbol":"XBTUSDTM","leverage":"5"})",
      R"(POST /api/v1/orders "marginMode":"CROSS")"},
     "XBTUSDTM=cross"},
    {"kucoin contract switched to cross since remembered",
     "kucoin",
     "ETHUSDTM=cross;XBTUSDTM=isolated",
     {R"(getMarginMode => {"code":"200000","data":{"symbol":"XBTUSDTM","marginMode":"CROSS"}})",
      R"("ISOLATED" => {"code":"330005","msg":"The order's margin mode does not match the selected one."})",
      R"(/api/v1/orders => {"code":"200000","data":{"orderId":"1"}})"},
     {R"(POST /api/v1/orders "marginMode":"ISOLATED")", "GET /api/v2/position/getMarginMode?symbol=XBTUSDTM",
      "POST /api/v2/changeCrossUserLeverage", R"(POST /api/v1/orders "marginMode":"CROSS")"},
     "ETHUSDTM=cross;XBTUSDTM=cross"},
    {"gate dual account, learned",
     "gate",
     "",
     {R"(/accounts => {"in_dual_mode":true})", "/dual_comp/ => []", R"(/orders => {"id":1} => 201)"},
     {"GET /api/v4/futures/usdt/accounts",
      "POST /api/v4/futures/usdt/dual_comp/positions/BTC_USDT/leverage?leverage=5",
      "POST /api/v4/futures/usdt/orders"},
     "true"},
    {"gate switched to dual since remembered",
     "gate",
     "false",
     {R"(usdt/positions/BTC_USDT/leverage => {"label":"POSITION_DUAL_MODE","message":"dual"} => 400)",
      R"(/accounts => {"in_dual_mode":true})", "/dual_comp/ => []", R"(/orders => {"id":1} => 201)"},
     {"POST /api/v4/futures/usdt/positions/BTC_USDT/leverage", "GET /api/v4/futures/usdt/accounts",
      "POST /api/v4/futures/usdt/dual_comp/positions/BTC_USDT/leverage", "POST /api/v4/futures/usdt/orders"},
     "true"},
};

TEST(AccountModes, TheAccountsModeIsReadUsedAndRemembered) {
    for (const ModeCase& c : kCases) {
        SCOPED_TRACE(c.what);
        AdapterBench bench;
        std::vector<int> used(c.answers.size(), 0);
        bench.http.respond = [&](const HttpRequest& request) { return answer_for(c.answers, request, used); };
        AccountMemory memory = known("one_way");
        std::string& field = std::string(c.exchange) == "kucoin" ? memory.margin_modes : memory.dual_mode;
        field = c.remembered;
        ExchangeSession session = bench.session(c.exchange, memory);
        const OperationResult result =
            adapter_of(c.exchange)
                .place_open(session, OrderRequest{"BTC_USDT", true, "2", "65000", "kv1"}, 5);
        EXPECT_EQ(result.reason, "") << result.body;
        ASSERT_EQ(bench.http.sent.size(), c.sent.size());
        for (size_t i = 0; i < c.sent.size(); ++i) {
            const HttpRequest& sent = bench.http.sent[i];
            const std::string line =
                sent.method + " " + sent.url.substr(sent.url.find(".test") + 5) + " " + sent.body;
            const std::string& want = c.sent[i];
            const size_t space = want.find(' ', want.find(' ') + 1);
            EXPECT_EQ(line.rfind(want.substr(0, space), 0), 0u) << line;  // method and path
            if (space != std::string::npos) {
                EXPECT_TRUE(contains(line, want.substr(space + 1))) << line;
            }
        }
        EXPECT_EQ(
            std::string(c.exchange) == "kucoin" ? session.memory.margin_modes : session.memory.dual_mode,
            c.learned);
    }
}

TEST(AccountModes, MarginModesAndDualModeSurviveTheMemoryFile) {
    const std::string dir = testing::TempDir() + "/account-modes-" + std::to_string(::getpid());
    std::filesystem::create_directories(dir);
    AccountMemory memory;
    remember_margin_mode(memory, "XBTUSDTM", "cross");
    remember_margin_mode(memory, "ETHUSDTM", "isolated");
    remember_margin_mode(memory, "XBTUSDTM", "isolated");
    EXPECT_EQ(memory.margin_modes, "ETHUSDTM=isolated;XBTUSDTM=isolated");
    EXPECT_EQ(margin_mode_of(memory, "ETHUSDTM"), "isolated");
    EXPECT_EQ(margin_mode_of(memory, "ETH"), "");
    memory.dual_mode = "true";
    const AccountMemoryStore store(dir);
    ASSERT_TRUE(store.save("gate", "key-1", memory).ok());
    EXPECT_EQ(store.load("gate", "key-1"), memory);
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace korvane::connector
