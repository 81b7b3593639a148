// The live credential checks of the six exchanges, through the registry over fakes.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "connector/exchanges/exchange_registry.h"
#include "connector/toolkit/digest.h"
#include "tests/exchanges/adapter_support.h"

namespace korvane::connector {
namespace {

using Status = ExchangeConnectionStatus;

const char* const kOkxPaths[] = {"/api/v5/account/config", "/api/v5/account/balance?ccy=USDT",
                                 "/api/v5/account/balance"};
const char* const kOkxHosts[] = {"https://okx.test", "https://okx-eea.test", "https://okx-us.test"};

class Validation : public ::testing::Test {
  protected:
    ValidateCredentialsResult validate(const std::string& exchange, const std::string& passphrase = "pass-1",
                                       const AccountMemory& known = {}) {
        StoredCredential credential = test_credential(exchange);
        credential.passphrase = passphrase;
        return validate_credentials(bench.http, bench.clock, {exchange, credential}, known);
    }

    AdapterBench bench;
    FakeHttpClient& http = bench.http;
};

struct Outcome {
    Status status;
    bool can_trade;
    bool withdrawal;
    std::string reason;
};

void expect_outcome(const ValidateCredentialsResult& result, const Outcome& expected) {
    EXPECT_EQ(result.status, expected.status);
    const bool valid =
        expected.status == Status::valid_read_only || expected.status == Status::valid_trade_ready;
    EXPECT_EQ(result.can_read, valid);
    EXPECT_EQ(result.can_trade, expected.can_trade);
    EXPECT_EQ(result.withdrawal_enabled, expected.withdrawal);
    EXPECT_FALSE(result.credentials_saved);
    EXPECT_EQ(result.reason, expected.reason);
    EXPECT_EQ(result.checked_at, "2023-11-14T22:13:20Z");
}

TEST_F(Validation, BybitAndGateDecideOnOneSignedRequest) {
    const Status ready = Status::valid_trade_ready, read_only = Status::valid_read_only;
    const std::string bybit = "live bybit auth validated",
                      gate = "live gate auth validated; withdrawal permission not reported by gate";
    // Gate's key is asked about with a cancel of an order that does not exist.
    const HttpResult not_found{0, R"({"label":"ORDER_NOT_FOUND","message":"Order not found"})", 404},
        forbidden{0, R"({"label":"FORBIDDEN","message":"no permission"})", 403};
    // `failure` non-zero: the request failed with that code and `body` as the transport's words.
    const struct {
        const char* exchange;
        int failure;
        std::string body;
        Outcome outcome;
        std::optional<HttpResult> probe = std::nullopt;  // Gate's permission cancel, when sent
    } cases[] = {
        {"bybit",
         0,
         R"({"retCode":0,"result":{"readOnly":0,"permissions":["Order"]}})",
         {ready, true, false, bybit}},
        {"bybit",
         0,
         R"({"retCode": 0, "result": {"permissions": ["Transfer"]}})",
         {read_only, false, false, bybit}},
        {"bybit",
         0,
         R"({"retCode":0,"readOnly":1,"permissions":["Order","Withdraw"]})",
         {read_only, false, true, bybit}},
        {"bybit", 0, R"({"retCode":0,"result":["order"]})", {ready, true, false, bybit}},
        {"bybit",
         0,
         "{\"retCode\":10003}\r\n \n",
         {Status::invalid, false, false, R"(bybit rejected credentials: {"retCode":10003})"}},
        {"bybit",
         7,
         "Failed to connect\n",
         {Status::error, false, false, "bybit request failed: curl: (7) Failed to connect"}},
        {"gate",
         0,
         R"({"user":1666,"currency":"USDT","available":"9.7"})",
         {ready, true, false, gate},
         not_found},
        {"gate", 0, R"({"user":1666,"currency":"USDT"})", {read_only, false, false, gate}, forbidden},
        // A plain substring rule: an error that names a currency counts as an answer.
        {"gate",
         0,
         R"({"label":"INVALID_KEY","detail":{"currency":"USDT"}})",
         {ready, true, false, gate},
         not_found},
        {"gate",
         0,
         "{\"label\":\"INVALID_SIGNATURE\"}\n",
         {Status::invalid, false, false, R"(gate rejected credentials: {"label":"INVALID_SIGNATURE"})"}},
        {"gate",
         28,
         "Operation timed out",
         {Status::error, false, false, "gate request failed: curl: (28) Operation timed out"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        http.sent.clear();
        http.queue(c.failure != 0 ? http_failure(c.failure, c.body) : HttpResult{0, c.body, 401});
        if (c.probe) http.queue(*c.probe);
        expect_outcome(validate(c.exchange, ""), c.outcome);
        // Gate's trading probe goes out with the account request, whatever that answers.
        ASSERT_EQ(http.sent.size(), c.exchange == std::string("gate") ? 2u : 1u);
        if (c.exchange == std::string("gate")) {
            EXPECT_EQ(http.sent[1].method, "DELETE");
            EXPECT_EQ(http.sent[1].url, "https://gate.test/api/v4/futures/usdt/orders/0?contract=BTC_USDT");
        }
        EXPECT_EQ(http.sent[0].url, c.exchange == std::string("bybit")
                                        ? "https://bybit.test/v5/user/query-api"
                                        : "https://gate.test/api/v4/futures/usdt/accounts");
        EXPECT_EQ(http.sent[0].timeout_ms, kValidationRequestMs);
    }
    EXPECT_EQ(http.header(0, "SIGN"), hmac_sha512_hex("secret-1", "GET\n/api/v4/futures/usdt/accounts\n\n" +
                                                                      sha512_hex("") + "\n1700000000"));
}

// Returns the attempt report the probe-style checks print: one object per attempt.
std::string report(const std::vector<std::string>& entries) {
    std::string text = "[";
    for (const std::string& entry : entries) text += (text.size() > 1 ? ", " : "") + entry;
    return text + "]";
}

TEST_F(Validation, OkxTriesNineAttemptsInOrderAndReportsEach) {
    http.answer("", R"({"msg":"API key doesn't exist","code":"50119"})", 401);
    const ValidateCredentialsResult result = validate("okx");
    std::vector<std::string> entries;
    ASSERT_EQ(http.sent.size(), 9u);
    size_t i = 0;
    for (const char* host : kOkxHosts) {
        for (const char* path : kOkxPaths) {
            SCOPED_TRACE(i);
            const HttpRequest& sent = http.sent[i];
            EXPECT_EQ(sent.url, std::string(host) + path);
            const std::vector<std::string> headers = {
                "OK-ACCESS-KEY: key-1",
                "OK-ACCESS-SIGN: " + hmac_sha256_base64("secret-1", kNowIso + "GET" + path),
                "OK-ACCESS-TIMESTAMP: " + kNowIso,
                "OK-ACCESS-PASSPHRASE: pass-1",
                "Content-Type: application/json",
                "User-Agent: okx-api-client/1.0"};
            EXPECT_EQ(sent.headers, headers);
            EXPECT_EQ(sent.timeout_ms, kValidationRequestMs);
            entries.push_back(std::string(R"({"host": ")") + host + R"(", "path": ")" + path +
                              R"(", "body": "{\"msg\":\"API key doesn't exist\",\"code\":\"50119\"}"})");
            ++i;
        }
    }
    expect_outcome(result, {Status::invalid, false, false, "okx rejected credentials: " + report(entries)});
    EXPECT_EQ(result.learned, AccountMemory{});
}

TEST_F(Validation, OkxRemembersTheSiteThatAcceptedTheKeyAndItsMode) {
    http.answer("okx-eea.test/api/v5/account/config",
                R"({"code":"0","data":[{"acctLv":"2","posMode":"net_mode","perm":"read_only,trade"}]})");
    http.answer("okx-eea.test", R"({"code":"0","data":[{"details":[]}]})");
    http.answer("", R"({"msg":"API key doesn't exist","code":"50119"})", 401);
    const ValidateCredentialsResult result = validate("okx");
    expect_outcome(result, {Status::valid_trade_ready, true, false, "live okx auth validated"});
    EXPECT_EQ(http.sent.size(), 9u);
    EXPECT_EQ(result.learned.site, "eea");
    EXPECT_EQ(result.learned.position_mode, "one_way");

    // A key every site accepts belongs to the first.
    http.rules.clear();
    http.answer("/api/v5/account/config", R"({"code":"0","data":[{"posMode":"long_short_mode"}]})");
    http.answer("", R"({"code":"0","data":[]})");
    const ValidateCredentialsResult global = validate("okx");
    EXPECT_EQ(global.learned.site, "global");
    EXPECT_EQ(global.learned.position_mode, "hedge");
}

TEST_F(Validation, OkxUnreachableIsInvalidWithTheTransportsWords) {
    const ValidateCredentialsResult result = validate("okx");
    EXPECT_EQ(result.status, Status::invalid);
    EXPECT_EQ(http.sent.size(), 9u);
    EXPECT_NE(
        result.reason.find(R"("path": "/api/v5/account/balance", "body": "curl: (7) Failed to connect: )"
                           R"(no reply scripted for https://okx-us.test/api/v5/account/balance"}])"),
        std::string::npos)
        << result.reason;
}

TEST_F(Validation, BingxTriesBothBalancePaths) {
    // After a balance answers, the key's permissions are asked for.
    const HttpResult permissions{
        0, R"({"code":0,"data":{"enableReading":true,"enableFutures":true,"enableWithdrawals":false}})", 200};
    const struct {
        HttpResult v3, v2;
        Outcome outcome;
    } cases[] = {
        {{0, R"({"code":100001,"msg":"Signature verification failed"})", 200},
         {0, R"({"code":0,"data":{"balance":{"equity":"5"}}})", 200},
         {Status::valid_trade_ready, true, false, "live bingx auth validated"}},
        {{0, "", 404},
         {0, R"({"availableMargin":1})", 200},
         {Status::valid_trade_ready, true, false, "live bingx auth validated"}},
        {{0, R"({"code":100413,"msg":"Incorrect apiKey é"})", 200},
         http_failure(28, "Operation timed out"),
         {Status::invalid, false, false,
          "bingx rejected credentials: " +
              report(
                  {R"({"path": "/openApi/swap/v3/user/balance", "body": "{\"code\":100413,)"
                   R"(\"msg\":\"Incorrect apiKey \u00e9\"}"})",
                   R"({"path": "/openApi/swap/v2/user/balance", "body": "curl: (28) Operation timed out"})"})}},
    };
    for (const auto& c : cases) {
        http.sent.clear();
        http.queue(c.v3);
        http.queue(c.v2);
        http.queue(permissions);
        expect_outcome(validate("bingx", ""), c.outcome);
        // The permission query goes out with the balance paths, whatever they answer.
        ASSERT_EQ(http.sent.size(), 3u);
        EXPECT_EQ(http.sent[2].url.find("https://bingx.test/openApi/v1/account/apiPermissions?timestamp="), 0u);
        EXPECT_EQ(http.sent[0].url, "https://bingx.test/openApi/swap/v3/user/balance?timestamp=" + kNowText +
                                        "&signature=" + hmac_sha256_hex("secret-1", "timestamp=" + kNowText));
        EXPECT_EQ(http.sent[1].url.find("https://bingx.test/openApi/swap/v2/user/balance?"), 0u);
        EXPECT_EQ(http.sent[0].headers, std::vector<std::string>{"X-BX-APIKEY: key-1"});
    }
}

TEST_F(Validation, KucoinTriesBothKeyVersionsAndRemembersTheOneThatWorks) {
    const HttpResult refused{0, R"({"code":"400004","msg":"Invalid KC-API-PASSPHRASE"})", 401},
        accepted{0, R"({"code":"200000","data":{"accountEquity":1.5,"availableBalance":1}})", 200},
        key_info{0, R"({"code":"200000","data":{"apiKey":"key-1","permission":"General,Futures"}})", 200};
    const struct {
        HttpResult v2, v3;
        Status status;
        std::string learned;
    } cases[] = {
        {accepted, accepted, Status::valid_trade_ready, "2"},
        {refused, accepted, Status::valid_trade_ready, "3"},
        {accepted, refused, Status::valid_trade_ready, "2"},
        {refused, refused, Status::invalid, ""},
    };
    for (const auto& c : cases) {
        http.sent.clear();
        http.queue(c.v2);
        http.queue(c.v3);
        http.queue(key_info);
        http.queue(key_info);
        const ValidateCredentialsResult result = validate("kucoin");
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.learned.key_version, c.learned);
        // The key information lives on the account host; it is asked under both versions together
        // with the balances, and the answer under the version that worked is read.
        ASSERT_EQ(http.sent.size(), 4u);
        for (size_t i = 2; i < 4; ++i) {
            EXPECT_EQ(http.sent[i].url, "https://kucoin-account.test/api/v1/user/api-key");
            EXPECT_EQ(http.header(i, "KC-API-KEY-VERSION"), i == 2 ? "2" : "3");
        }
        if (!c.learned.empty()) {
            EXPECT_EQ(result.reason,
                      "live kucoin auth validated; withdrawal permission not reported by kucoin");
        }
        for (size_t i = 0; i < 2; ++i) {
            const std::vector<std::string> headers = {
                "KC-API-KEY: key-1",
                "KC-API-SIGN: " +
                    hmac_sha256_base64("secret-1", kNowText + "GET/api/v1/account-overview?currency=USDT"),
                "KC-API-TIMESTAMP: " + kNowText,
                "KC-API-PASSPHRASE: " + hmac_sha256_base64("secret-1", "pass-1"),
                std::string("KC-API-KEY-VERSION: ") + (i == 0 ? "2" : "3"),
                "Content-Type: application/json"};
            EXPECT_EQ(http.sent[i].headers, headers);
        }
    }
    http.queued.clear();
    EXPECT_EQ(
        validate("kucoin").reason,  // nothing scripted: both attempts fail to connect
        "kucoin rejected credentials: " +
            report({R"({"keyVersion": "2", "body": "curl: (7) Failed to connect: no reply scripted for )"
                    R"(https://kucoin.test/api/v1/account-overview?currency=USDT"})",
                    R"({"keyVersion": "3", "body": "curl: (7) Failed to connect: no reply scripted for )"
                    R"(https://kucoin.test/api/v1/account-overview?currency=USDT"})"}));
}

TEST_F(Validation, BitgetNeedsAnAnswerToDecide) {
    const struct {
        HttpResult reply;
        Outcome outcome;
        std::optional<HttpResult> info = std::nullopt;  // the account information, when asked
    } cases[] = {
        {{0, R"({"code":"00000","data":[{"marginCoin":"USDT","available":"10"}]})", 200},
         {Status::valid_trade_ready, true, false, "live bitget auth validated"},
         HttpResult{0, R"({"code":"00000","data":{"authorities":["coor","coow","cpor","cpow"]}})", 200}},
        {{0, "", 200}, {Status::error, false, false, "failed to execute bitget validation probe"}},
        {{0, " \r\n\t", 200}, {Status::error, false, false, "failed to execute bitget validation probe"}},
        {{0, "", 401}, {Status::invalid, false, false, "bitget rejected credentials: HTTP Error 401"}},
        {{0, "{\"code\":\"40037\",\"msg\":\"Apikey does not exist\"}\n", 400},
         {Status::invalid, false, false,
          R"(bitget rejected credentials: {"code":"40037","msg":"Apikey does not exist"})"}},
        {http_failure(6, "Could not resolve host: bitget.test"),
         {Status::invalid, false, false,
          "bitget rejected credentials: curl: (6) Could not resolve host: bitget.test"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply.body);
        http.sent.clear();
        http.queue(c.reply);
        if (c.info) http.queue(*c.info);
        expect_outcome(validate("bitget"), c.outcome);
        // The key's authorities are asked together with the account, whatever that answers.
        ASSERT_EQ(http.sent.size(), 2u);
        EXPECT_EQ(http.sent[0].url,
                  "https://bitget.test/api/v2/mix/account/accounts?productType=USDT-FUTURES");
        EXPECT_EQ(http.sent[1].url, "https://bitget.test/api/v2/spot/account/info");
        EXPECT_EQ(http.header(0, "locale"), "en-US");
        EXPECT_EQ(http.header(0, "X-CHANNEL-API-CODE"), "qwvtz");
    }
}

TEST_F(Validation, AMissingPassphraseIsRefusedBeforeAnyRequest) {
    for (const char* exchange : {"okx", "kucoin", "bitget"}) {
        expect_outcome(validate(exchange, ""),
                       {Status::invalid, false, false, std::string(exchange) + " passphrase missing"});
    }
    StoredCredential keyless = test_credential("okx");
    keyless.api_key.clear();
    keyless.passphrase.clear();
    EXPECT_EQ(validate_credentials(bench.http, bench.clock, {"okx", keyless}).reason, "missing api key or secret");
    EXPECT_TRUE(http.sent.empty());
}

TEST_F(Validation, AGoodKeyOnADriftedMachineIsValid) {
    const struct {
        const char* exchange;
        const char* refusal;
        const char* clock_reply;
    } cases[] = {
        {"bybit", R"({"retCode":10002,"retMsg":"invalid request, please check your server timestamp"})",
         R"({"retCode":0,"result":{"timeNano":"1699999955123000000"}})"},
        {"kucoin", R"({"code":"400002","msg":"KC-API-TIMESTAMP Invalid"})",
         R"({"code":"200000","data":1699999955123})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.exchange);
        http.sent.clear();
        http.queue(c.refusal);
        http.queue(c.clock_reply);
        http.answer("", R"({"retCode":0,"code":"200000","marginCoin":"USDT","permissions":["Order"],)"
                        R"("data":{"permission":"General,Futures"}})");
        const ValidateCredentialsResult result = validate(c.exchange);
        EXPECT_EQ(result.status, Status::valid_trade_ready);
        EXPECT_EQ(result.learned.clock_offset_ms, -45000);
        EXPECT_EQ(result.learned.clock_measured_at_ms, kNowMs);
        EXPECT_EQ(stamp_of(http, c.exchange, 2), "1699999955123");
        EXPECT_EQ(http.sent[1].timeout_ms, kValidationRequestMs);
    }
    // A fresh offset from an earlier run stamps the first request right away.
    http.sent.clear();
    AccountMemory known;
    known.clock_offset_ms = -45000;
    known.clock_measured_at_ms = kNowMs - 60000;
    EXPECT_EQ(validate("bybit", "", known).status, Status::valid_trade_ready);
    EXPECT_EQ(stamp_of(http, "bybit", 0), "1699999955123");
}

TEST_F(Validation, TheBudgetCapsEveryAttempt) {
    // Through the registry each attempt has its own 15 s and the whole check 45 s: with fast
    // replies every attempt gets the full 15 s.
    for (const char* exchange : {"bybit", "okx", "gate", "bingx", "kucoin", "bitget"}) {
        http.sent.clear();
        validate(exchange);
        ASSERT_FALSE(http.sent.empty());
        for (const HttpRequest& sent : http.sent)
            EXPECT_EQ(sent.timeout_ms, kValidationRequestMs) << exchange;
    }
    // What is left of the budget caps each attempt; once it is spent, no attempt waits at all.
    for (const int64_t left : {int64_t{2000}, int64_t{0}}) {
        http.sent.clear();
        const StoredCredential credential = test_credential("okx");
        ExchangeSession session{
            credential, http, bench.clock, {}, kValidationRequestMs, Deadline::after_ms(left),
            find_exchange("okx")->sites};
        const ValidateCredentialsResult result = adapter_of("okx").validate({"okx", credential}, session);
        ASSERT_EQ(http.sent.size(), 9u);
        for (const HttpRequest& sent : http.sent) {
            EXPECT_LE(sent.timeout_ms, left);
            EXPECT_GT(sent.timeout_ms, left - 1000);
        }
        if (left == 0) {
            EXPECT_EQ(result.status, Status::invalid);
            EXPECT_NE(result.reason.find("curl: (28) Operation timed out before it started"),
                      std::string::npos);
        }
    }
}

TEST_F(Validation, PermissionsAreWhatTheExchangeSays) {
    const Status ready = Status::valid_trade_ready, read_only = Status::valid_read_only;
    const std::string no_withdrawal = "; withdrawal permission not reported by ";
    const struct {
        const char* exchange;
        std::vector<std::pair<const char*, HttpResult>> answers;  // URL part -> reply; the first that fits
        Outcome outcome;
    } cases[] = {
        {"okx",
         {{"/account/config", {0, R"({"code":"0","data":[{"posMode":"net_mode","perm":"read_only"}]})", 200}},
          {"", {0, R"({"code":"0","data":[]})", 200}}},
         {read_only, false, false, "live okx auth validated"}},
        {"okx",
         {{"/account/config",
           {0, R"({"code":"0","data":[{"posMode":"net_mode","perm":"read_only,trade,withdraw"}]})", 200}},
          {"", {0, R"({"code":"0","data":[]})", 200}}},
         {ready, true, true, "live okx auth validated"}},
        {"bingx",
         {{"apiPermissions",
           {0, R"({"code":0,"data":{"enableFutures":false,"enableWithdrawals":false}})", 200}},
          {"", {0, R"({"code":0,"data":{}})", 200}}},
         {read_only, false, false, "live bingx auth validated"}},
        {"bingx",
         {{"apiPermissions",
           {0, R"({"code":0,"data":{"enableFutures":true,"enableWithdrawals":true}})", 200}},
          {"", {0, R"({"code":0,"data":{}})", 200}}},
         {ready, true, true, "live bingx auth validated"}},
        {"kucoin",
         {{"/user/api-key", {0, R"({"code":"200000","data":{"permission":"General"}})", 200}},
          {"", {0, R"({"code":"200000","data":{}})", 200}}},
         {read_only, false, false, "live kucoin auth validated" + no_withdrawal + "kucoin"}},
        {"bitget",
         {{"/spot/account/info", {0, R"({"code":"00000","data":{"authorities":["coor","cpor"]}})", 200}},
          {"", {0, R"({"code":"00000","data":[]})", 200}}},
         {read_only, false, false, "live bitget auth validated"}},
        {"bitget",
         {{"/spot/account/info", {0, R"({"code":"00000","data":{"authorities":["coow","wwow"]}})", 200}},
          {"", {0, R"({"code":"00000","data":[]})", 200}}},
         {ready, true, true, "live bitget auth validated"}},
        // A key refused the account information: a cancel of no order tells whether it may trade.
        {"bitget",
         {{"/spot/account/info", {0, R"({"code":"40014","msg":"Incorrect permissions"})", 400}},
          {"cancel-order", {0, R"({"code":"40768","msg":"Order does not exist"})", 400}},
          {"", {0, R"({"code":"00000","data":[]})", 200}}},
         {ready, true, false, "live bitget auth validated" + no_withdrawal + "bitget"}},
        // A refused IP address is not a bad key; nor is a rate limit.
        {"bybit",
         {{"", {0, R"({"retCode":10010,"retMsg":"Unmatched IP"})", 200}}},
         {Status::error, false, false,
          R"(bybit refused this machine's IP address (not on the key's IP whitelist; the key itself may be )"
          R"(fine): {"retCode":10010,"retMsg":"Unmatched IP"})"}},
        {"gate",
         {{"", {0, R"({"label":"TOO_MANY_REQUESTS","message":"slow down"})", 429}}},
         {Status::error, false, false,
          R"(gate rate limit reached, try again shortly: {"label":"TOO_MANY_REQUESTS","message":"slow down"})"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.exchange) + " " + c.outcome.reason);
        http.sent.clear();
        http.rules.clear();
        for (const auto& [part, reply] : c.answers) http.rules.emplace_back(part, reply);
        expect_outcome(validate(c.exchange), c.outcome);
    }
    // OKX and KuCoin name the IP refusal among their attempts.
    http.rules.clear();
    http.answer("", R"({"code":"50110","msg":"IP not in whitelist"})", 401);
    EXPECT_EQ(validate("okx").reason.find("okx refused this machine's IP address"), 0u);
    http.rules.clear();
    http.answer("", R"({"code":"400006","msg":"Invalid request ip"})", 400);
    EXPECT_EQ(validate("kucoin").status, Status::error);
}

}  // namespace
}  // namespace korvane::connector
