#pragma once

#include <memory>

#include "connector/state/secret_store.h"

namespace korvane::connector {

enum class SecretBackend {
    keychain_tool,   // a program with the `security` tool's command-line contract
    macos_keychain,  // the macOS Keychain through the Security framework
    secret_service,  // the desktop's Secret Service through libsecret
};

// Returns the store the vault uses: the keychain tool when KORVANE_KEYCHAIN_TOOL is set (even
// empty), else the platform's own store.
SecretBackend choose_secret_backend(bool keychain_tool_named, bool on_macos);

// Returns the store for this run, as `choose_secret_backend` picks it from the environment.
std::unique_ptr<SecretStore> open_secret_store();

// Returns the platform's own store (macOS Keychain or Secret Service); each platform's file
// defines it.
std::unique_ptr<SecretStore> open_system_secret_store();

}  // namespace korvane::connector
