#pragma once

#include <string>

namespace korvane::connector {

// The outside services the connector reaches besides the exchanges (whose hosts are in their
// table rows). An environment variable that is set (even empty) replaces the default.

// Returns the value of `variable` when it is set, else `fallback`.
std::string env_or(const char* variable, const char* fallback);

// Returns the keychain tool: KORVANE_KEYCHAIN_TOOL, or /usr/bin/security.
std::string keychain_tool();

// Returns the update manifest URL: KORVANE_UPDATE_MANIFEST_URL, or the build-time default.
std::string update_manifest_url();

// Returns the relay URL: KORVANE_RELAY_URL, or the build-time default.
std::string relay_url();

}  // namespace korvane::connector
