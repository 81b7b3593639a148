#pragma once

#include <memory>
#include <optional>
#include <string>

#include "connector/state/secret_store.h"

namespace korvane::connector {

// What the Secret Service store asks of the service: items named by the attributes "service"
// and "account". The real calls go through libsecret; tests give their own.
class SecretServiceCalls {
  public:
    enum class Answer { done, not_found, failed };

    virtual ~SecretServiceCalls() = default;
    // Returns true when a Secret Service runs on the session bus, without starting one.
    virtual bool service_running() = 0;
    // Stores `secret` under a readable `label`, replacing the item with the same attributes.
    virtual Answer store(const std::string& service, const std::string& account, const std::string& label,
                         const std::string& secret) = 0;
    // Sets `secret` to the item's secret when the answer is done.
    virtual Answer lookup(const std::string& service, const std::string& account, std::string& secret) = 0;
    // Removes every unlocked item with these attributes.
    virtual Answer clear(const std::string& service, const std::string& account) = 0;
    // Returns done when an item with these attributes exists, locked or not; unlocks nothing.
    virtual Answer find(const std::string& service, const std::string& account) = 0;
};

// The desktop's Secret Service (GNOME Keyring, KWallet, KeePassXC) as the vault's store. When no
// service runs on the session bus (or there is no session bus), the store is out of play: the
// vault works on its files alone and "status" says "file_only".
class SecretServiceStore : public SecretStore {
  public:
    explicit SecretServiceStore(std::unique_ptr<SecretServiceCalls> calls) : calls_(std::move(calls)) {}

    // Stores and reads back: true only when the service returns exactly `secret`.
    bool store(const std::string& service, const std::string& account, const std::string& secret) override;
    std::optional<std::string> fetch(const std::string& service, const std::string& account) override;
    // True when the service holds no such item afterwards; false when it cannot tell (not running).
    bool remove(const std::string& service, const std::string& account) override;
    // "secret_service_with_file_fallback", or "file_only" when no service runs.
    std::string backend_name() const override;

  private:
    // Asks once per run whether the service runs.
    bool running() const;

    std::unique_ptr<SecretServiceCalls> calls_;
    mutable std::optional<bool> running_;
};

// Returns the calls to the session's Secret Service through libsecret, loaded on first use; a
// missing library fails every call as an unreachable service would.
std::unique_ptr<SecretServiceCalls> libsecret_calls();

}  // namespace korvane::connector
