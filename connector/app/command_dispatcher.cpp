#include "connector/app/command_dispatcher.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <iostream>
#include <string>

#include "connector/app/relay_output.h"
#include "connector/app/update_output.h"
#include "connector/toolkit/secure_wipe.h"
#include "connector/toolkit/text.h"

namespace korvane::connector {
namespace {

// The operands of one run, with the "-" operands of validate already read.
struct Operands {
    int argc;
    const char* const* argv;
    std::istream& input;

    // Returns operand `index`; empty when it was not given.
    std::string at(int index) const { return index < argc ? argv[index] : ""; }
};

const char* flag(bool value) {
    return value ? "true" : "false";
}

int print_json(const std::string& json) {
    std::cout << json << "\n";
    return 0;
}

int print_status(const ConnectorSnapshot& snapshot) {
    const DeviceIdentity& identity = snapshot.identity;
    std::cout << "connector_health=" << to_string(snapshot.health) << "\n"
              << "relay_connected=" << flag(snapshot.relay_connected) << "\n"
              << "device_id=" << printable(identity.device_id) << "\n"
              << "device_label=" << printable(identity.device_label) << "\n"
              << "platform=" << printable(identity.platform) << "\n"
              << "paired=" << flag(identity.paired) << "\n";
    if (!identity.owner_wallet.empty()) std::cout << "owner_wallet=" << printable(identity.owner_wallet) << "\n";
    std::cout << "vault_backend=" << snapshot.vault_backend << "\n";
    for (const ExchangeConnection& exchange : snapshot.exchanges) {
        std::cout << "exchange=" << exchange.exchange << " status=" << to_string(exchange.status)
                  << " credentials_present=" << flag(exchange.credentials_present) << " note=\""
                  << exchange.note << "\"\n";
    }
    return 0;
}

int print_validation(const ValidateCredentialsResult& result) {
    std::cout << "exchange=" << printable(result.exchange) << "\n"
              << "status=" << to_string(result.status) << "\n"
              << "can_read=" << flag(result.can_read) << "\n"
              << "can_trade=" << flag(result.can_trade) << "\n"
              << "withdrawal_enabled=" << flag(result.withdrawal_enabled) << "\n"
              << "credentials_saved=" << flag(result.credentials_saved) << "\n"
              << "checked_at=" << result.checked_at << "\n"
              << "reason=" << printable(result.reason) << "\n";
    return result.credentials_saved ? 0 : 2;
}

int print_capabilities(const std::vector<ExchangeCapabilityMatrix>& rows) {
    for (const ExchangeCapabilityMatrix& row : rows) {
        std::cout << "exchange=" << row.exchange << " validate=" << flag(row.validate)
                  << " balance=" << flag(row.balance) << " position=" << flag(row.position)
                  << " funding=" << flag(row.funding) << " close_report=" << flag(row.close_report)
                  << " open=" << flag(row.open) << " close=" << flag(row.close) << " cancel=" << flag(row.cancel)
                  << " status=" << flag(row.status) << " leverage_sync=" << flag(row.leverage_sync)
                  << " margin_mode_sync=" << flag(row.margin_mode_sync) << "\n";
    }
    return 0;
}

int print_credentials(const std::optional<StoredCredential>& credential) {
    if (!credential) {
        std::cout << "status=missing\n";
        return 2;
    }
    // The command exists to hand the stored secrets back to the desktop window.
    std::cout << "status=ok\n"
              << "exchange=" << printable(credential->exchange) << "\n"
              << "api_key=" << printable(credential->api_key) << "\n"
              << "api_secret=" << printable(credential->api_secret) << "\n"
              << "passphrase=" << printable(credential->passphrase) << "\n";
    return 0;
}

// Returns operand `index`: as given, or for "-" the next line of `input` (without its line
// end), so a secret need not appear in the program's arguments.
std::string line_operand(const Operands& operands, int index) {
    std::string value = operands.at(index);
    if (value != "-") return value;
    value.clear();
    std::getline(operands.input, value);
    if (!value.empty() && value.back() == '\r') value.pop_back();
    return value;
}

int run_status(ConnectorApp& app, const Operands&) {
    return print_status(app.snapshot());
}

int run_validate(ConnectorApp& app, const Operands& operands) {
    StoredCredential credential;
    credential.exchange = operands.at(2);
    credential.api_key = line_operand(operands, 3);
    credential.api_secret = line_operand(operands, 4);
    credential.passphrase = line_operand(operands, 5);
    ValidateCredentialsRequest request{credential.exchange, credential};
    const ValidateCredentialsResult result = app.validate_and_save(request);
    // The key, secret and passphrase are not needed past this point.
    for (StoredCredential* held : {&credential, &request.credential}) {
        secure_wipe(held->api_key);
        secure_wipe(held->api_secret);
        secure_wipe(held->passphrase);
    }
    return print_validation(result);
}

int run_set_wallet(ConnectorApp& app, const Operands& operands) {
    const BindingAnswer answer = app.set_owner_wallet(operands.at(2));
    if (answer.reason == "invalid_wallet") {
        std::cout << "status=error\nreason=invalid_wallet\n";
        return 2;
    }
    const bool stored = answer.kind == BindingAnswer::Kind::bind_state;
    const PairingState pairing = app.pairing_state();
    if (!pairing.owner_wallet_address.empty()) {
        std::cout << "owner_wallet_address=" << printable(pairing.owner_wallet_address) << "\n";
    }
    std::cout << "pairing_status=" << printable(pairing.pairing_status) << "\n";
    return stored ? 0 : 2;
}

int run_delete(ConnectorApp& app, const Operands& operands) {
    const bool removed = app.delete_exchange_credentials(operands.at(2));
    std::cout << "status=" << (removed ? "ok" : "error") << "\n"
              << "exchange=" << printable(operands.at(2)) << "\n"
              << "removed=" << flag(removed) << "\n";
    return removed ? 0 : 2;
}

// Returns the number operand at `index` in `value`; false (a usage error) when it is no number
// or lies outside `low`..`high`.
bool number_operand(const Operands& operands, int index, int& value, int low = 0, int high = INT_MAX) {
    if (index >= operands.argc) return true;
    return parse_int_operand(operands.argv[index], value) && value >= low && value <= high;
}

// A year of minutes: the longest funding lookback.
constexpr int kMaxLookbackMinutes = 525600;

using Handler = int (*)(ConnectorApp& app, const Operands& operands);

struct Command {
    const char* word;
    int min_argc;          // counting the program and the command word
    const char* operands;  // as the usage text names them; empty for none
    const char* summary;   // one line for `help`
    Handler run;           // returns the exit code; -1 for a usage error
};

// Matching order, operand counts, usage and help texts of the command words: the one list.
constexpr Command kCommands[] = {
    {"status", 2, "", "Print health, device identity, vault backend and each exchange's state.", run_status},
    {"validate", 5, "<exchange> <api_key|-> <api_secret|-> [passphrase|-]",
     "Check a key live and store it when valid; each \"-\" reads that operand from a line of standard input.",
     run_validate},
    {"set-wallet", 3, "<public_evm_address>", "Store the owner wallet; the device becomes unpaired.",
     run_set_wallet},
    {"bind-wallet", 2, "", "Ask the relay to bind the stored wallet to this device.",
     [](ConnectorApp& app, const Operands&) {
         return print_json(render_binding_answer(app.bind_wallet_to_server()));
     }},
    {"bind-status", 2, "", "Ask the relay how far binding has come.",
     [](ConnectorApp& app, const Operands&) {
         return print_json(render_binding_answer(app.binding_status()));
     }},
    {"claim-token", 3, "<token|->",
     "Claim a bind token from the web app; then sign in the browser. \"-\" reads the token from a line of "
     "standard input.",
     [](ConnectorApp& app, const Operands& o) {
         return print_json(render_binding_answer(app.claim_bind_token(line_operand(o, 2))));
     }},
    {"disconnect-binding", 2, "", "Forget the binding on this device.",
     [](ConnectorApp& app, const Operands&) {
         return print_json(render_binding_answer(app.disconnect_binding()));
     }},
    {"capabilities", 2, "", "List which operations each exchange offers.",
     [](ConnectorApp& app, const Operands&) { return print_capabilities(app.capability_matrix()); }},
    {"load-credentials", 3, "<exchange>", "Print the stored key, secret and passphrase of an exchange.",
     [](ConnectorApp& app, const Operands& o) { return print_credentials(app.load_exchange_credentials(o.at(2))); }},
    {"delete-credentials", 3, "<exchange>", "Remove an exchange's stored credentials.", run_delete},
    {"balance", 3, "<exchange>", "Read the USDT futures balance.",
     [](ConnectorApp& app, const Operands& o) { return print_json(app.get_balance(o.at(2))); }},
    {"get-position", 4, "<exchange> <symbol>", "Read the position in a contract such as BTC_USDT.",
     [](ConnectorApp& app, const Operands& o) { return print_json(app.get_position(o.at(2), o.at(3))); }},
    {"order-status", 5, "<exchange> <symbol> <order_id>", "Look up one order.",
     [](ConnectorApp& app, const Operands& o) {
         return print_json(app.get_order_status(o.at(2), o.at(3), o.at(4)));
     }},
    {"cancel-order", 5, "<exchange> <symbol> <order_id>", "Cancel one open order.",
     [](ConnectorApp& app, const Operands& o) { return print_json(app.cancel_order(o.at(2), o.at(3), o.at(4))); }},
    {"funding", 4, "<exchange> <symbol> [lookback_minutes]",
     "List funding payments of the last minutes (default 180).",
     [](ConnectorApp& app, const Operands& o) {
         int lookback = 180;
         if (!number_operand(o, 4, lookback, 1, kMaxLookbackMinutes)) return -1;
         return print_json(app.get_funding(o.at(2), o.at(3), lookback));
     }},
    {"close-report", 4, "<exchange> <symbol> [order_id]", "Show an order next to the closed positions or fills.",
     [](ConnectorApp& app, const Operands& o) {
         return print_json(app.get_close_report(o.at(2), o.at(3), o.at(4)));
     }},
    {"place-open", 8, "<exchange> <symbol> <side> <quantity> <price> <leverage>",
     "Set the leverage, then place a limit order that opens or adds (side buy or sell).",
     [](ConnectorApp& app, const Operands& o) {
         int leverage = 0;
         if (!number_operand(o, 7, leverage)) return -1;
         return print_json(app.place_open(o.at(2), o.at(3), o.at(4), o.at(5), o.at(6), leverage));
     }},
    {"place-close", 7, "<exchange> <symbol> <side> <quantity> <price>",
     "Place a reduce-only limit order against the position opened on <side>.",
     [](ConnectorApp& app, const Operands& o) {
         return print_json(app.place_close(o.at(2), o.at(3), o.at(4), o.at(5), o.at(6)));
     }},
    {"update-check", 2, "", "Ask the update manifest whether a newer version exists.",
     [](ConnectorApp& app, const Operands&) {
         return print_json(render_update_outcome(app.update_check()));
     }},
    {"update-download", 2, "", "Download the newer version's disk image.",
     [](ConnectorApp& app, const Operands&) {
         return print_json(render_update_outcome(app.update_download()));
     }},
    {"update-apply", 2, "", "Open the downloaded disk image to install it.",
     [](ConnectorApp& app, const Operands&) {
         return print_json(render_update_outcome(app.update_apply()));
     }},
    {"server-health", 2, "", "Check that the relay server answers.",
     [](ConnectorApp& app, const Operands&) {
         return print_json(render_server_health(app.server_health()));
     }},
};

// The general usage names the words in its own order, not the matching order.
constexpr const char* kGeneralUsage =
    "usage: korvane-connector <status|validate|load-credentials|delete-credentials|set-wallet|bind-wallet|"
    "bind-status|claim-token|disconnect-binding|capabilities|balance|get-position|order-status|cancel-order|"
    "funding|close-report|place-open|place-close|update-check|update-download|update-apply|server-health> "
    "[args]";

std::string usage_of(const Command& command) {
    return std::string("usage: korvane-connector ") + command.word +
           (*command.operands != '\0' ? std::string(" ") + command.operands : "");
}

int usage_error(const std::string& usage) {
    std::cerr << usage << "\n";
    return 1;
}

// Reports what could not be saved; a run that lost state does not end in success.
int with_problems(const ConnectorApp& app, int code) {
    for (const std::string& problem : app.problems()) std::cerr << "korvane-connector: " << problem << "\n";
    return app.problems().empty() || code != 0 ? code : 1;
}

}  // namespace

bool parse_int_operand(const char* text, int& value) {
    // "10.9", "25,5", "1e3" or "60min" is not the number its first digits spell: refused
    // rather than cut short.
    if (*text == '\0') return false;
    long long parsed = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') return false;
        parsed = parsed * 10 + (*p - '0');
        if (parsed > INT_MAX) return false;
    }
    value = static_cast<int>(parsed);
    return true;
}

std::string update_signing_note(bool signed_updates) {
    return signed_updates ? "Updates are installed only when the publisher's signature checks out.\n"
                          : "Updates: this build has no publisher key and installs UNSIGNED update images.\n";
}

std::string help_text() {
    std::string text = "korvane-connector " KORVANE_VERSION
                       ": keeps exchange API keys on this machine, checks them live, reads and trades USDT\n"
                       "perpetual accounts, and pairs this machine with the web terminal.\n\n"
                       "usage: korvane-connector <command> [operands]\n\ncommands:\n";
    for (const Command& command : kCommands) {
        text += std::string("  ") + command.word + (*command.operands != '\0' ? " " : "") + command.operands +
                "\n      " + command.summary + "\n";
    }
    text +=
        "\nExchanges: bybit, okx, gate, bingx, kucoin, bitget. Symbols are contract names such as BTC_USDT.\n"
        "Commands that print JSON exit 0 whatever the JSON says; read its \"status\".\n"
        "korvane-connector --version prints the version.\n";
    return text;
}

int CommandDispatcher::run_cli(int argc, const char* const* argv) {
    if (argc < 2) return usage_error(kGeneralUsage);
    const std::string word = argv[1];
    if (word == "help" || word == "--help") {
        std::cout << help_text() << update_signing_note(app_.signed_updates());
        return 0;
    }
    if (word == "--version") {
        std::cout << "korvane-connector " KORVANE_VERSION "\n";
        return 0;
    }
    for (const Command& command : kCommands) {
        if (word != command.word) continue;
        if (argc < command.min_argc) return usage_error(usage_of(command));
        const int code = command.run(app_, Operands{argc, argv, input_});
        if (code < 0) return usage_error(usage_of(command));
        return with_problems(app_, code);
    }
    std::cerr << "unknown command: " << word << "\n";
    return 1;
}

}  // namespace korvane::connector
