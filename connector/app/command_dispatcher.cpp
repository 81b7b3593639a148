#include "connector/app/command_dispatcher.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <iostream>
#include <string>

namespace korvane::connector {
namespace {

constexpr const char* kGeneralUsage =
    "usage: korvane-connector <status|validate|load-credentials|delete-credentials|set-wallet|bind-wallet|"
    "bind-status|claim-token|disconnect-binding|capabilities|balance|get-position|order-status|cancel-order|"
    "funding|close-report|place-open|place-close|update-check|update-download|update-apply|server-health> "
    "[args]";

const char* flag(bool value) {
    return value ? "true" : "false";
}

int print_json(const std::string& json) {
    std::cout << json << "\n";
    return 0;
}

int print_status(const ConnectorSnapshot& snapshot) {
    std::cout << "connector_health=" << to_string(snapshot.health) << "\n"
              << "relay_connected=" << flag(snapshot.relay_connected) << "\n"
              << "device_id=" << snapshot.identity.device_id << "\n"
              << "device_label=" << snapshot.identity.device_label << "\n"
              << "platform=" << snapshot.identity.platform << "\n"
              << "paired=" << flag(snapshot.identity.paired) << "\n";
    if (!snapshot.identity.owner_wallet.empty()) {
        std::cout << "owner_wallet=" << snapshot.identity.owner_wallet << "\n";
    }
    std::cout << "vault_backend=" << snapshot.vault_backend << "\n";
    for (const ExchangeConnection& exchange : snapshot.exchanges) {
        std::cout << "exchange=" << exchange.exchange << " status=" << to_string(exchange.status)
                  << " credentials_present=" << flag(exchange.credentials_present) << " note=\""
                  << exchange.note << "\"\n";
    }
    return 0;
}

int print_validation(const ValidateCredentialsResult& result) {
    std::cout << "exchange=" << result.exchange << "\n"
              << "status=" << to_string(result.status) << "\n"
              << "can_read=" << flag(result.can_read) << "\n"
              << "can_trade=" << flag(result.can_trade) << "\n"
              << "withdrawal_enabled=" << flag(result.withdrawal_enabled) << "\n"
              << "credentials_saved=" << flag(result.credentials_saved) << "\n"
              << "checked_at=" << result.checked_at << "\n"
              << "reason=" << result.reason << "\n";
    return result.credentials_saved ? 0 : 2;
}

int print_capabilities(const std::vector<ExchangeCapabilityMatrix>& rows) {
    for (const ExchangeCapabilityMatrix& row : rows) {
        std::cout << "exchange=" << row.exchange << " validate=" << flag(row.validate)
                  << " balance=" << flag(row.balance) << " position=" << flag(row.position)
                  << " funding=" << flag(row.funding) << " close_report=" << flag(row.close_report)
                  << " open=" << flag(row.open) << " close=" << flag(row.close)
                  << " cancel=" << flag(row.cancel) << " status=" << flag(row.status)
                  << " leverage_sync=" << flag(row.leverage_sync)
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
              << "exchange=" << credential->exchange << "\n"
              << "api_key=" << credential->api_key << "\n"
              << "api_secret=" << credential->api_secret << "\n"
              << "passphrase=" << credential->passphrase << "\n";
    return 0;
}

int print_wallet(bool stored, const PairingState& pairing) {
    if (!pairing.owner_wallet_address.empty()) {
        std::cout << "owner_wallet_address=" << pairing.owner_wallet_address << "\n";
    }
    std::cout << "pairing_status=" << pairing.pairing_status << "\n";
    return stored ? 0 : 2;
}

int print_deletion(bool removed, const std::string& exchange) {
    std::cout << "status=" << (removed ? "ok" : "error") << "\n"
              << "exchange=" << exchange << "\n"
              << "removed=" << flag(removed) << "\n";
    return removed ? 0 : 2;
}

struct Command {
    const char* word;
    int min_argc;
    const char* usage;  // nullptr for commands without operands
};

// Matching order and operand counts of the command words.
constexpr Command kCommands[] = {
    {"status", 2, nullptr},
    {"validate", 5, "usage: korvane-connector validate <exchange> <api_key> <api_secret> [passphrase]"},
    {"set-wallet", 3, "usage: korvane-connector set-wallet <public_evm_address>"},
    {"bind-wallet", 2, nullptr},
    {"bind-status", 2, nullptr},
    {"claim-token", 3, "usage: korvane-connector claim-token <token>"},
    {"disconnect-binding", 2, nullptr},
    {"capabilities", 2, nullptr},
    {"load-credentials", 3, "usage: korvane-connector load-credentials <exchange>"},
    {"delete-credentials", 3, "usage: korvane-connector delete-credentials <exchange>"},
    {"balance", 3, "usage: korvane-connector balance <exchange>"},
    {"get-position", 4, "usage: korvane-connector get-position <exchange> <symbol>"},
    {"order-status", 5, "usage: korvane-connector order-status <exchange> <symbol> <order_id>"},
    {"cancel-order", 5, "usage: korvane-connector cancel-order <exchange> <symbol> <order_id>"},
    {"funding", 4, "usage: korvane-connector funding <exchange> <symbol> [lookback_minutes]"},
    {"close-report", 4, "usage: korvane-connector close-report <exchange> <symbol> [order_id]"},
    {"place-open", 8,
     "usage: korvane-connector place-open <exchange> <symbol> <side> <quantity> <price> <leverage>"},
    {"place-close", 7, "usage: korvane-connector place-close <exchange> <symbol> <side> <quantity> <price>"},
    {"update-check", 2, nullptr},
    {"update-download", 2, nullptr},
    {"update-apply", 2, nullptr},
    {"server-health", 2, nullptr},
};

int usage_error(const char* usage) {
    std::cerr << usage << "\n";
    return 1;
}

}  // namespace

bool parse_int_operand(const char* text, int& value) {
    const char* p = text;
    while (std::isspace(static_cast<unsigned char>(*p))) ++p;
    if (*p == '+' || *p == '-') ++p;
    if (!std::isdigit(static_cast<unsigned char>(*p))) return false;
    errno = 0;
    const long long parsed = std::strtoll(text, nullptr, 10);
    if (errno == ERANGE || parsed < INT_MIN || parsed > INT_MAX) return false;
    value = static_cast<int>(parsed);
    return true;
}

int CommandDispatcher::run_cli(int argc, const char* const* argv) {
    if (argc < 2) return usage_error(kGeneralUsage);
    const std::string word = argv[1];
    const Command* command = nullptr;
    for (const Command& candidate : kCommands) {
        if (word == candidate.word) {
            command = &candidate;
            break;
        }
    }
    if (command == nullptr) {
        std::cerr << "unknown command: " << word << "\n";
        return 1;
    }
    if (argc < command->min_argc) return usage_error(command->usage);
    auto arg = [&](int index) { return std::string(index < argc ? argv[index] : ""); };

    if (word == "status") return print_status(app_.snapshot());
    if (word == "validate") {
        const StoredCredential credential{arg(2), arg(3), arg(4), arg(5)};
        return print_validation(app_.validate_and_save({arg(2), credential}));
    }
    if (word == "set-wallet") {
        const bool stored = app_.set_owner_wallet(arg(2));
        return print_wallet(stored, app_.pairing_state());
    }
    if (word == "bind-wallet") return print_json(app_.bind_wallet_to_server());
    if (word == "bind-status") return print_json(app_.binding_status());
    if (word == "claim-token") return print_json(app_.claim_bind_token(arg(2)));
    if (word == "disconnect-binding") return print_json(app_.disconnect_binding());
    if (word == "capabilities") return print_capabilities(app_.capability_matrix());
    if (word == "load-credentials") return print_credentials(app_.load_exchange_credentials(arg(2)));
    if (word == "delete-credentials") return print_deletion(app_.delete_exchange_credentials(arg(2)), arg(2));
    if (word == "balance") return print_json(app_.get_balance(arg(2)));
    if (word == "get-position") return print_json(app_.get_position(arg(2), arg(3)));
    if (word == "order-status") return print_json(app_.get_order_status(arg(2), arg(3), arg(4)));
    if (word == "cancel-order") return print_json(app_.cancel_order(arg(2), arg(3), arg(4)));
    if (word == "funding") {
        int lookback = 180;
        if (argc > 4 && !parse_int_operand(argv[4], lookback)) return usage_error(command->usage);
        return print_json(app_.get_funding(arg(2), arg(3), lookback));
    }
    if (word == "close-report") return print_json(app_.get_close_report(arg(2), arg(3), arg(4)));
    if (word == "place-open") {
        int leverage = 0;
        if (!parse_int_operand(argv[7], leverage)) return usage_error(command->usage);
        return print_json(app_.place_open(arg(2), arg(3), arg(4), arg(5), arg(6), leverage));
    }
    if (word == "place-close") return print_json(app_.place_close(arg(2), arg(3), arg(4), arg(5), arg(6)));
    if (word == "update-check") return print_json(app_.update_check());
    if (word == "update-download") return print_json(app_.update_download());
    if (word == "update-apply") return print_json(app_.update_apply());
    return print_json(app_.server_health());
}

}  // namespace korvane::connector
