#pragma once

#include <optional>
#include <string>

namespace korvane::connector {

// The system's store for secrets (a keychain, a secret service), one item per service and
// account. The vault falls back to its own files when the store cannot take or give an item.
class SecretStore {
  public:
    virtual ~SecretStore() = default;

    // Stores `secret` under service/account, replacing an older item; false when it was not stored.
    virtual bool store(const std::string& service, const std::string& account, const std::string& secret) = 0;
    // Returns the item's secret; empty when there is none or the store cannot be reached.
    virtual std::optional<std::string> fetch(const std::string& service, const std::string& account) = 0;
    // Removes the item; returns true when no such item is left afterwards.
    virtual bool remove(const std::string& service, const std::string& account) = 0;
    // Returns the vault backend name "status" prints for a vault on this store.
    virtual std::string backend_name() const = 0;
};

}  // namespace korvane::connector
