#pragma once

#include <optional>
#include <string>

#include "connector/state/secret_store.h"

namespace korvane::connector {

// The macOS Keychain through the Security framework: one generic password item per service and
// account in the default (login) keychain, the items the `security` tool reads and writes, so
// items stored by earlier versions through that tool are found. Every call is bounded: a
// keychain that does not answer in time (locked, waiting on a dialog) counts as unavailable and
// the vault falls back to its files.
class MacKeychainStore : public SecretStore {
  public:
    bool store(const std::string& service, const std::string& account, const std::string& secret) override;
    std::optional<std::string> fetch(const std::string& service, const std::string& account) override;
    bool remove(const std::string& service, const std::string& account) override;
    std::string backend_name() const override { return "macos_keychain_with_file_fallback"; }
};

}  // namespace korvane::connector
