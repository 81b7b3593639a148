#include "connector/state/secret_store_choice.h"

#include <cstdlib>

#include "connector/state/keychain_tool_store.h"
#include "connector/state/platform_texts.h"
#include "connector/toolkit/endpoints.h"

namespace korvane::connector {

SecretBackend choose_secret_backend(bool keychain_tool_named, bool on_macos) {
    if (keychain_tool_named) return SecretBackend::keychain_tool;
    return on_macos ? SecretBackend::macos_keychain : SecretBackend::secret_service;
}

std::unique_ptr<SecretStore> open_secret_store() {
    const bool named = std::getenv("KORVANE_KEYCHAIN_TOOL") != nullptr;
    if (choose_secret_backend(named, host_is_macos()) == SecretBackend::keychain_tool) {
        return std::make_unique<KeychainToolStore>(keychain_tool(), host_platform_texts().tool_backend_name);
    }
    return open_system_secret_store();
}

}  // namespace korvane::connector
