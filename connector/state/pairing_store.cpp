#include "connector/state/pairing_store.h"

#include <cctype>

#include "connector/state/files.h"
#include "connector/state/record_text.h"

namespace korvane::connector {

bool is_wallet_address(std::string_view text) {
    if (text.size() != 42 || text[0] != '0' || text[1] != 'x') return false;
    for (const char c : text.substr(2)) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    }
    return true;
}

bool is_bind_token(std::string_view text) {
    if (text.empty() || text.size() > 512) return false;
    for (const char c : text) {
        if (!std::isalnum(static_cast<unsigned char>(c)) &&
            std::string_view("._~+/=-").find(c) == std::string_view::npos)
            return false;
    }
    return true;
}

PairingStore::PairingStore(std::string app_root) : root_(std::move(app_root)) {
    make_private_directory(root_);
}

std::string PairingStore::pairing_path() const {
    return root_ + "/pairing.env";
}

PairingState PairingStore::load() const {
    PairingState state;
    state.pairing_status = "unpaired";
    // A missing or unreadable file reads as empty text: the default state.
    for (const auto& [key, value] : parse_record_text(read_file(pairing_path()))) {
        if (key == "owner_wallet_address")
            state.owner_wallet_address = value;
        else if (key == "pairing_status")
            state.pairing_status = value;
        else if (key == "server_account_ref")
            state.server_account_ref = value;
        else if (key == "latest_bind_token")
            state.latest_bind_token = value;
        else if (key == "latest_claimed_connector_id")
            state.latest_claimed_connector_id = value;
        else if (key == "platform_terms_accepted")
            state.platform_terms_accepted = value == "1";
        else if (key == "wallet_approval_confirmed")
            state.wallet_approval_confirmed = value == "1";
    }
    return state;
}

bool PairingStore::save(const PairingState& state) const {
    const std::optional<std::string> text = format_record_text({
        {"owner_wallet_address", state.owner_wallet_address},
        {"pairing_status", state.pairing_status},
        {"server_account_ref", state.server_account_ref},
        {"latest_bind_token", state.latest_bind_token},
        {"latest_claimed_connector_id", state.latest_claimed_connector_id},
        {"platform_terms_accepted", state.platform_terms_accepted ? "1" : "0"},
        {"wallet_approval_confirmed", state.wallet_approval_confirmed ? "1" : "0"},
    });
    // The file holds the bind token: private, like every file of the application root.
    return text && write_file_atomic(pairing_path(), *text, 0600);
}

bool PairingStore::set_owner_wallet(const std::string& address) const {
    PairingState state = load();
    state.owner_wallet_address = address;
    if (state.pairing_status.empty()) state.pairing_status = "wallet_set";
    return save(state);
}

}  // namespace korvane::connector
