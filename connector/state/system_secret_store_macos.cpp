#include "connector/state/mac_keychain_store.h"
#include "connector/state/secret_store_choice.h"

namespace korvane::connector {

std::unique_ptr<SecretStore> open_system_secret_store() {
    return std::make_unique<MacKeychainStore>();
}

}  // namespace korvane::connector
