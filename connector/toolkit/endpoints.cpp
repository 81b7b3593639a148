#include "connector/toolkit/endpoints.h"

#include <cstdlib>

namespace korvane::connector {

// A set variable wins even when empty: tests point a site at nothing on purpose.
std::string env_or(const char* variable, const char* fallback) {
    const char* value = std::getenv(variable);
    return value != nullptr ? value : fallback;
}

std::string keychain_tool() {
    return env_or("KORVANE_KEYCHAIN_TOOL", "/usr/bin/security");
}

std::string update_manifest_url() {
    return env_or("KORVANE_UPDATE_MANIFEST_URL", KORVANE_DEFAULT_MANIFEST_URL);
}

std::string relay_url() {
    return env_or("KORVANE_RELAY_URL", KORVANE_DEFAULT_RELAY_URL);
}

}  // namespace korvane::connector
