#include "connector/toolkit/endpoints.h"

#include <cstdlib>

namespace korvane::connector {
namespace {

struct SiteDefault {
    const char* variable;
    const char* url;
};

SiteDefault site_default(Site site) {
    switch (site) {
        case Site::bybit: return {"KORVANE_BYBIT_BASE_URL", "https://api.bybit.com"};
        case Site::okx: return {"KORVANE_OKX_BASE_URL", "https://www.okx.com"};
        case Site::okx_eea: return {"KORVANE_OKX_EEA_BASE_URL", "https://eea.okx.com"};
        case Site::okx_us: return {"KORVANE_OKX_US_BASE_URL", "https://us.okx.com"};
        case Site::gate: return {"KORVANE_GATE_BASE_URL", "https://api.gateio.ws"};
        case Site::bingx: return {"KORVANE_BINGX_BASE_URL", "https://open-api.bingx.com"};
        case Site::kucoin_futures:
            return {"KORVANE_KUCOIN_FUTURES_BASE_URL", "https://api-futures.kucoin.com"};
        case Site::kucoin: return {"KORVANE_KUCOIN_BASE_URL", "https://api.kucoin.com"};
        case Site::bitget: return {"KORVANE_BITGET_BASE_URL", "https://api.bitget.com"};
    }
    return {"", ""};
}

// A set variable wins even when empty: tests point a site at nothing on purpose.
std::string env_or(const char* variable, const char* fallback) {
    const char* value = std::getenv(variable);
    return value != nullptr ? value : fallback;
}

}  // namespace

std::string base_url(Site site) {
    const SiteDefault entry = site_default(site);
    return env_or(entry.variable, entry.url);
}

const char* base_url_variable(Site site) {
    return site_default(site).variable;
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
