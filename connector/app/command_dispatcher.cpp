#include "connector/app/command_dispatcher.h"

#include <climits>
#include <iostream>
#include <string>

#include "connector/app/doctor.h"
#include "connector/app/exchange_output.h"
#include "connector/exchanges/exchange_table.h"
#include "connector/toolkit/json.h"
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
                  << exchange.note << "\"" << (exchange.demo ? " environment=demo" : "") << "\n";
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

int print_capabilities() {
    for (const ExchangeEntry& entry : exchange_table()) {
        const ExchangeCapabilities& row = entry.capabilities;
        std::cout << "exchange=" << entry.name << " validate=" << flag(row.validate)
                  << " balance=" << flag(row.balance) << " position=" << flag(row.position)
                  << " funding=" << flag(row.funding) << " close_report=" << flag(row.close_report)
                  << " open=" << flag(row.open) << " close=" << flag(row.close) << " cancel=" << flag(row.cancel)
                  << " status=" << flag(row.status) << " leverage_sync=" << flag(row.leverage_sync)
                  << " margin_mode_sync=" << flag(row.margin_mode_sync) << "\n";
    }
    return 0;
}

// Prints the exchanges the connector knows, in table order, as one JSON array: what the window
// builds its exchange list from.
int print_exchanges() {
    std::string text = "[";
    for (const ExchangeEntry& entry : exchange_table()) {
        if (!entry.listed) continue;
        if (text.size() > 1) text += ",";
        text += JsonObject()
                    .add("name", entry.name)
                    .add("display_name", entry.display_name)
                    .add("passphrase", entry.passphrase)
                    .add("live", entry.adapter != nullptr)
                    .add("quantity_unit", to_string(entry.quantity_unit))
                    .str();
    }
    std::cout << text << "]\n";
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
    // "--demo" before the exchange: a demo-trading key, checked and used in the demo environment.
    const bool demo = operands.at(2) == "--demo";
    const int first = demo ? 3 : 2;
    if (operands.argc < first + 3) return -1;
    StoredCredential credential;
    credential.exchange = operands.at(first);
    credential.api_key = line_operand(operands, first + 1);
    credential.api_secret = line_operand(operands, first + 2);
    credential.passphrase = line_operand(operands, first + 3);
    ValidateCredentialsRequest request{credential.exchange, credential, demo};
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
    const Status stored = app.set_owner_wallet(operands.at(2));
    if (stored.reason == "invalid_wallet") {
        std::cout << "status=error\nreason=invalid_wallet\n";
        return 2;
    }
    const PairingState pairing = app.pairing_state();
    if (!pairing.owner_wallet_address.empty()) {
        std::cout << "owner_wallet_address=" << printable(pairing.owner_wallet_address) << "\n";
    }
    std::cout << "pairing_status=" << printable(pairing.pairing_status) << "\n";
    return stored.ok() ? 0 : 2;
}

int run_delete(ConnectorApp& app, const Operands& operands) {
    const bool removed = app.delete_exchange_credentials(operands.at(2));
    std::cout << "status=" << (removed ? "ok" : "error") << "\n"
              << "exchange=" << printable(operands.at(2)) << "\n"
              << "removed=" << flag(removed) << "\n";
    return removed ? 0 : 2;
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
    // For an exchange command: the operation its operands go to (named as in `operands`), and
    // `run` is left empty.
    const ExchangeOperation* operation = nullptr;
};

// Fills the request field named `name` ("exchange", "leverage", ...) from `value`; false (a usage
// error) when a number operand is no whole number, or a lookback lies outside one year.
bool fill_operand(OperationRequest& request, std::string_view name, const char* value) {
    if (name == "exchange") request.exchange = value;
    if (name == "symbol") request.symbol = value;
    if (name == "order_id") request.order_id = value;
    if (name == "side") request.side = value;
    if (name == "quantity") request.quantity = value;
    if (name == "price") request.price = value;
    if (name == "leverage") return parse_int_operand(value, request.leverage);
    if (name == "lookback_minutes") {
        return parse_int_operand(value, request.lookback_minutes) && request.lookback_minutes >= 1 &&
               request.lookback_minutes <= kMaxLookbackMinutes;
    }
    return true;
}

// Prints what `contract-info` found: the contract's rules and what one quantity unit means.
int run_contract_info(ConnectorApp& app, const Operands& operands) {
    const std::string exchange = operands.at(2);
    const std::string symbol = operands.at(3);
    const ContractInfo info = look_up_contract(app.http(), app.clock(), exchange, symbol);
    if (!info.result.reason.empty()) return print_json(envelope(exchange, "contract_info", info.result));
    const ExchangeEntry& entry = *find_exchange(exchange);
    const ContractRules& rules = info.rules;
    return print_json(JsonObject()
                          .add("status", "ok")
                          .add("exchange", exchange)
                          .add("symbol", symbol)
                          .add("native_symbol", entry.native_symbol(symbol))
                          .add("quantity_unit", to_string(entry.quantity_unit))
                          .add("contract_value", rules.contract_value)
                          .add("contract_currency", rules.contract_currency)
                          .add("min_quantity", rules.min_quantity)
                          .add("quantity_step", rules.quantity_step)
                          .add("price_tick", rules.price_tick)
                          .add("max_leverage", rules.max_leverage)
                          .str());
}

// Runs an exchange command: its operands, read in the order its usage names them, go to its
// operation; the result is printed as its envelope.
int run_exchange_command(ConnectorApp& app, const Command& command, const Operands& operands) {
    OperationRequest request;
    int index = 2;
    for (std::string_view rest = command.operands; !rest.empty(); ++index) {
        const size_t end = rest.find(' ');
        std::string_view name = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        name = name.substr(1, name.size() - 2);  // without <> or []
        if (index < operands.argc && !fill_operand(request, name, operands.argv[index])) return -1;
    }
    const OperationResult result = run_exchange_operation(app.exchange_context(), *command.operation, request);
    return print_json(envelope(request.exchange, command.operation->kind, result));
}

// Operand counts, usage and help texts of the command words, in the order the general usage
// names them: the one list.
constexpr Command kCommands[] = {
    {"status", 2, "", "Print health, device identity, vault backend and each exchange's state.", run_status},
    {"validate", 5, "[--demo] <exchange> <api_key|-> <api_secret|-> [passphrase|-]",
     "Check a key live and store it when valid; each \"-\" reads that operand from a line of standard input.\n"
     "      With --demo the key is a demo-trading key: it and every later command use the exchange's\n"
     "      demo environment (no real money).",
     run_validate},
    {"load-credentials", 3, "<exchange>", "Print the stored key, secret and passphrase of an exchange.",
     [](ConnectorApp& app, const Operands& o) { return print_credentials(app.load_exchange_credentials(o.at(2))); }},
    {"delete-credentials", 3, "<exchange>", "Remove an exchange's stored credentials.", run_delete},
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
     [](ConnectorApp&, const Operands&) { return print_capabilities(); }},
    {"balance", 3, "<exchange>", "Read the USDT futures balance.", nullptr, &kBalance},
    {"get-position", 4, "<exchange> <symbol>", "Read the position in a contract such as BTC_USDT.", nullptr,
     &kPosition},
    {"order-status", 5, "<exchange> <symbol> <order_id>", "Look up one order.", nullptr, &kOrderStatus},
    {"cancel-order", 5, "<exchange> <symbol> <order_id>", "Cancel one open order.", nullptr, &kCancelOrder},
    {"funding", 4, "<exchange> <symbol> [lookback_minutes]",
     "List funding payments of the last minutes (default 180).", nullptr, &kFunding},
    {"close-report", 4, "<exchange> <symbol> [order_id]", "Show an order next to the closed positions or fills.",
     nullptr, &kCloseReport},
    {"place-open", 8, "<exchange> <symbol> <side> <quantity> <price> <leverage>",
     "Set the leverage, then place a limit order that opens or adds (side buy or sell).", nullptr, &kPlaceOpen},
    {"place-close", 7, "<exchange> <symbol> <side> <quantity> <price>",
     "Place a reduce-only limit order against the position opened on <side>.", nullptr, &kPlaceClose},
    {"contract-info", 4, "<exchange> <symbol>",
     "Show a contract's size and trading rules from the exchange's public list (no key needed).",
     run_contract_info},
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
    {"doctor", 2, "", "Check this machine: secret store, each stored key, clocks, the relay; hints for each problem.",
     [](ConnectorApp& app, const Operands&) { return print_diagnosis(diagnose(app)); }},
    {"exchanges", 2, "", "List the exchanges as JSON: name, display name, passphrase, live, quantity unit.",
     [](ConnectorApp&, const Operands&) { return print_exchanges(); }},
};

// Returns the general usage: every command word, in table order.
std::string general_usage() {
    std::string words;
    for (const Command& command : kCommands) words += (words.empty() ? "" : "|") + std::string(command.word);
    return "usage: korvane-connector <" + words + "> [args]";
}

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
    for (const Status& problem : app.problems()) std::cerr << "korvane-connector: " << problem.message << "\n";
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

// Returns the sentence of `help` that says which exchanges count quantities in base coins and
// which in contracts (lots).
std::string quantity_units_sentence() {
    std::string base, contracts;
    for (const ExchangeEntry& entry : exchange_table()) {
        if (entry.adapter == nullptr) continue;
        std::string& names = entry.quantity_unit == QuantityUnit::contracts ? contracts : base;
        names += (names.empty() ? "" : ", ") + std::string(entry.name);
    }
    return "Quantities are in base coins on " + base + " and in contracts on " + contracts +
           " (a contract's size: contract-info <exchange> <symbol>).\n";
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
        "\nExchanges: " + live_exchange_names(", ") + ". Symbols are contract names such as BTC_USDT.\n" +
        quantity_units_sentence() +
        "Commands that print JSON exit 0 whatever the JSON says; read its \"status\".\n"
        "korvane-connector --version prints the version.\n";
    return text;
}

std::optional<int> run_stateless(int argc, const char* const* argv, bool signed_updates) {
    if (argc < 2) return std::nullopt;
    const std::string_view word = argv[1];
    if (word == "help" || word == "--help") {
        std::cout << help_text() << update_signing_note(signed_updates);
        return 0;
    }
    if (word == "--version") {
        std::cout << "korvane-connector " KORVANE_VERSION "\n";
        return 0;
    }
    return std::nullopt;
}

int CommandDispatcher::run_cli(int argc, const char* const* argv) {
    if (argc < 2) return usage_error(general_usage());
    const std::string word = argv[1];
    if (const auto code = run_stateless(argc, argv, app_.signed_updates())) return *code;
    for (const Command& command : kCommands) {
        if (word != command.word) continue;
        if (argc < command.min_argc) return usage_error(usage_of(command));
        const Operands operands{argc, argv, input_};
        const int code = command.operation != nullptr ? run_exchange_command(app_, command, operands)
                                                       : command.run(app_, operands);
        if (code < 0) return usage_error(usage_of(command));
        return with_problems(app_, code);
    }
    std::cerr << "unknown command: " << word << "\n";
    return 1;
}

}  // namespace korvane::connector
