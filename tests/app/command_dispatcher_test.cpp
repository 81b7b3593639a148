// Whole commands over an Outside of fakes: what each prints, where, and with which exit code.
#include "connector/app/command_dispatcher.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include <pwd.h>
#include <unistd.h>

#include "connector/app/entry_point.h"
#include "tests/support/fakes.h"
#include "tests/support/temporary_folder.h"
#include "tests/support/test_sites.h"

namespace korvane::connector {
namespace {

struct Printed {
    int code;
    std::string out;
    std::string err;
};

class Commands : public ::testing::Test {
  protected:
    Commands() {
        use_test_sites();
        app.bootstrap();
    }

    // Runs `korvane-connector args...` with `input` as its standard input.
    Printed run(const std::vector<std::string>& args, const std::string& input = "") {
        std::vector<const char*> argv = {"korvane-connector"};
        for (const std::string& arg : args) argv.push_back(arg.c_str());
        std::istringstream in(input);
        std::ostringstream out, err;
        std::streambuf* const old_out = std::cout.rdbuf(out.rdbuf());
        std::streambuf* const old_err = std::cerr.rdbuf(err.rdbuf());
        const int code = CommandDispatcher(app, in).run_cli(static_cast<int>(argv.size()), argv.data());
        std::cout.rdbuf(old_out);
        std::cerr.rdbuf(old_err);
        return {code, out.str(), err.str()};
    }

    TemporaryFolder root;
    FakeHttpClient http;
    MemorySecretStore secrets;
    FixedClock clock{1700000000123};
    ConnectorApp app{root.path(), "https://relay.test", Outside{http, secrets, clock}};
};

TEST_F(Commands, HelpAndVersionNeedNoState) {
    for (const char* word : {"help", "--help"}) {
        const Printed help = run({word});
        EXPECT_EQ(help.code, 0);
        EXPECT_EQ(help.out, help_text() + update_signing_note(false));
        EXPECT_EQ(help.err, "");
    }
    // Every command word the usage names is explained by help.
    const Printed bare = run({});
    EXPECT_EQ(bare.code, 1);
    EXPECT_EQ(bare.out, "");
    const std::string words =
        bare.err.substr(bare.err.find('<') + 1, bare.err.find('>') - bare.err.find('<') - 1);
    std::istringstream list(words);
    for (std::string word; std::getline(list, word, '|');) {
        EXPECT_NE(help_text().find("\n  " + word), std::string::npos) << word;
    }
    EXPECT_EQ(run({"--version"}).out, "korvane-connector " KORVANE_VERSION "\n");
    const Printed unknown = run({"frobnicate", "x"});
    EXPECT_EQ(unknown.code, 1);
    EXPECT_EQ(unknown.out, "");
    EXPECT_EQ(unknown.err, "unknown command: frobnicate\n");
    EXPECT_TRUE(http.sent.empty());
}

TEST_F(Commands, MissingOrMalformedOperandsPrintTheCommandsUsage) {
    const struct {
        std::vector<std::string> args;
        const char* usage;
    } cases[] = {
        {{"validate", "okx", "key"}, "validate [--demo] <exchange> <api_key|-> <api_secret|-> [passphrase|-]"},
        {{"validate", "--demo", "okx", "key"}, "validate [--demo] <exchange> <api_key|-> <api_secret|-> [passphrase|-]"},
        {{"get-position", "okx"}, "get-position <exchange> <symbol>"},
        {{"place-close", "okx", "BTC_USDT", "buy", "1"},
         "place-close <exchange> <symbol> <side> <quantity> <price>"},
        {{"funding", "okx", "BTC_USDT", "abc"}, "funding <exchange> <symbol> [lookback_minutes]"},
        {{"funding", "okx", "BTC_USDT", " -"}, "funding <exchange> <symbol> [lookback_minutes]"},
        {{"place-open", "okx", "BTC_USDT", "buy", "1", "2", "99999999999"},
         "place-open <exchange> <symbol> <side> <quantity> <price> <leverage>"},
        {{"place-open", "okx", "BTC_USDT", "buy", "1", "2", ""},
         "place-open <exchange> <symbol> <side> <quantity> <price> <leverage>"},
        {{"claim-token"}, "claim-token <token|->"},
        {{"funding", "okx", "BTC_USDT", "60min"}, "funding <exchange> <symbol> [lookback_minutes]"},
        {{"funding", "okx", "BTC_USDT", "525601"}, "funding <exchange> <symbol> [lookback_minutes]"},
        {{"place-open", "okx", "BTC_USDT", "buy", "1", "2", "10.9"},
         "place-open <exchange> <symbol> <side> <quantity> <price> <leverage>"},
    };
    for (const auto& c : cases) {
        const Printed usage = run(c.args);
        EXPECT_EQ(usage.code, 1) << c.usage;
        EXPECT_EQ(usage.out, "") << c.usage;
        EXPECT_EQ(usage.err, std::string("usage: korvane-connector ") + c.usage + "\n");
    }
    EXPECT_TRUE(http.sent.empty());
}

TEST_F(Commands, ValidateReadsDashOperandsFromStandardInput) {
    http.answer("okx.test/api/v5/account/config",
                R"({"code":"0","data":[{"posMode":"net_mode","perm":"read_only,trade"}]})");
    const Printed validated = run({"validate", "okx", "-", "-", "-"}, "key-1\r\nsecret-1\npass word\n");
    EXPECT_EQ(validated.code, 0);
    EXPECT_EQ(validated.err, "");
    EXPECT_EQ(
        validated.out,
        "exchange=okx\nstatus=valid_trade_ready\ncan_read=true\ncan_trade=true\nwithdrawal_enabled=false\n"
        "credentials_saved=true\nchecked_at=2023-11-14T22:13:20Z\nreason=live okx auth validated\n");
    EXPECT_EQ(http.header(0, "OK-ACCESS-KEY"), "key-1");
    EXPECT_EQ(http.header(0, "OK-ACCESS-PASSPHRASE"), "pass word");

    EXPECT_EQ(run({"load-credentials", "okx"}).out,
              "status=ok\nexchange=okx\napi_key=key-1\napi_secret=secret-1\npassphrase=pass word\n");
    EXPECT_NE(run({"status"})
                  .out.find("exchange=okx status=configured credentials_present=true "
                            "note=\"credentials stored locally\"\n"),
              std::string::npos);
    // What the check learned serves the next command: a net-mode order without a learning request.
    http.sent.clear();
    http.answer("", R"({"code":"0","data":[{"ordId":"1"}]})");
    EXPECT_EQ(run({"place-close", "okx", "BTC_USDT", "buy", "1", "64000"}).code, 0);
    ASSERT_EQ(http.sent.size(), 1u);
    EXPECT_EQ(http.sent[0].body.find("posSide"), std::string::npos);
}

TEST_F(Commands, StateThatCannotBeSavedIsReportedAndFailsTheRun) {
    // A folder where the account memory belongs: the atomic rename over it fails, even for root.
    std::filesystem::create_directories(root.path("vault/okx.memory/occupied"));
    http.answer("", R"({"code":"0","data":[{"posMode":"long_short_mode"}]})");
    const Printed validated = run({"validate", "okx", "key-1", "secret-1", "pass-1"});
    EXPECT_EQ(validated.code, 1);
    EXPECT_NE(validated.out.find("credentials_saved=true\n"), std::string::npos);
    EXPECT_EQ(validated.err, "korvane-connector: cannot write " + root.path("vault/okx.memory") + "\n");
}

TEST_F(Commands, ARelayReplyBindsOnlyAs2xxTopLevelMembersNamingTheUsersWallet) {
    const std::string wallet = "0xAbCdEf0000000000000000000000000000000000";
    const std::string other = "0xeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeeee";
    const struct {
        long status;
        std::string body;
        bool binds;
        std::string printed;  // empty: the reply itself
    } cases[] = {
        {200, R"({"bindState":"authorized","wallet":")" + wallet + "\"}", true, ""},
        {200, R"({"bindState":"authorized","wallet":"0xabcdef0000000000000000000000000000000000"})", true,
         ""},
        {200, R"({"bindState":"authorized"})", true, ""},
        {403,
         R"({"status":"error","reason":"wallet_mismatch","conflictingBinding":{"bindState":"authorized",)"
         R"("wallet":")" +
             other + "\"}}",
         false, ""},
        {200, R"({"result":{"bindState":"authorized"}})", false, ""},
        {200, R"({"message":"\"bindState\":\"authorized\""})", false, ""},
        {200, R"({"bindState":"authorized","wallet":")" + other + "\"}", false,
         R"({"status":"error","reason":"relay_wallet_mismatch","wallet":")" + wallet +
             R"(","relay_wallet":")" + other + "\"}"},
        {200, R"({"bindState":"authorized","wallet":7})", false,
         R"({"status":"error","reason":"relay_wallet_mismatch","wallet":")" + wallet +
             R"(","relay_wallet":""})"},
        {200,
         std::string(R"({"bindState":"authorized"})"
                     "\0"
                     R"({"x":1})",
                     34),
         false,
         R"({"status":"error","reason":"invalid_response","kind":"bind_status","http_status":200,)"
         R"("body_text":"{\"bindState\":\"authorized\"}\u0000{\"x\":1}"})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        ASSERT_EQ(run({"disconnect-binding"}).code, 0);
        ASSERT_EQ(run({"set-wallet", wallet}).code, 0);
        http.queue(HttpResult{0, c.body, c.status});
        const Printed printed = run({"bind-status"});
        EXPECT_EQ(printed.out, (c.printed.empty() ? c.body : c.printed) + "\n");
        const PairingState pairing = app.pairing_state();
        EXPECT_EQ(pairing.pairing_status, c.binds ? "bound" : "unpaired");
        EXPECT_EQ(pairing.wallet_approval_confirmed, c.binds);
        EXPECT_EQ(pairing.owner_wallet_address, wallet);
    }
}

TEST(ApplicationRoot, ComesFromHomeOrThePasswordDatabaseNeverATemporaryFolder) {
    const char* saved = std::getenv("HOME");
    const std::string home = saved != nullptr ? saved : "";
    ::setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(application_root(), "/home/someone/.korvane-connector");
    ::setenv("HOME", "", 1);
    EXPECT_EQ(application_root(), ".korvane-connector");
    ::unsetenv("HOME");
    const passwd* entry = ::getpwuid(::getuid());
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(application_root(), std::filesystem::path(entry->pw_dir) / ".korvane-connector");
    if (saved != nullptr) ::setenv("HOME", home.c_str(), 1);
}

}  // namespace
}  // namespace korvane::connector
