#pragma once

#include <string>

namespace korvane::connector {

// The outside services the connector reaches. Each base URL is scheme and host without a
// trailing slash; an environment variable that is set (even empty) replaces the default.
// kucoin is KuCoin's account host, where key information lives; kucoin_futures serves trading.
enum class Site { bybit, okx, okx_eea, okx_us, gate, bingx, kucoin_futures, kucoin, bitget };

// Returns the REST base URL of `site`.
std::string base_url(Site site);

// Returns the name of the environment variable that overrides `site`'s base URL.
const char* base_url_variable(Site site);

// Returns the keychain tool: KORVANE_KEYCHAIN_TOOL, or /usr/bin/security.
std::string keychain_tool();

// Returns the update manifest URL: KORVANE_UPDATE_MANIFEST_URL, or the build-time default.
std::string update_manifest_url();

// Returns the relay URL: KORVANE_RELAY_URL, or the build-time default.
std::string relay_url();

}  // namespace korvane::connector
