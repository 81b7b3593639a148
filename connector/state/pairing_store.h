#pragma once

#include <string>
#include <string_view>

namespace korvane::connector {

// How far pairing with the relay has come.
struct PairingState {
    std::string owner_wallet_address;
    std::string pairing_status;  // "unpaired" when nothing is stored
    std::string server_account_ref;
    std::string latest_bind_token;
    std::string latest_claimed_connector_id;
    bool platform_terms_accepted = false;
    bool wallet_approval_confirmed = false;
};

// Returns true for an EVM wallet address: "0x" and 40 hex digits, either case.
bool is_wallet_address(std::string_view text);

// Returns true for a bind token: 1 to 512 characters of [A-Za-z0-9._~+/=-].
bool is_bind_token(std::string_view text);

// Reads and writes "pairing.env" in the application root.
class PairingStore {
  public:
    // Keeps `app_root` and creates it with all missing parents.
    explicit PairingStore(std::string app_root);

    // Returns the stored state; the default state with status "unpaired" when there is no file.
    PairingState load() const;

    // Replaces the file with `state`; returns false when it could not be written.
    bool save(const PairingState& state) const;

    // Stores `address` as the owner wallet (status "wallet_set" when it was empty);
    // returns the save's result.
    bool set_owner_wallet(const std::string& address) const;

    // Returns the path of "pairing.env".
    std::string pairing_path() const;

  private:
    std::string root_;
};

}  // namespace korvane::connector
