#include "connector/exchanges/exchange_table.h"

#include <array>

#include "connector/exchanges/symbols.h"

namespace korvane::connector {

// Each adapter file offers its one adapter; only this table reaches for them.
const ExchangeAdapter& bybit_adapter();
const ExchangeAdapter& okx_adapter();
const ExchangeAdapter& gate_adapter();
const ExchangeAdapter& bingx_adapter();
const ExchangeAdapter& kucoin_adapter();
const ExchangeAdapter& bitget_adapter();

namespace {

constexpr std::array<ExchangeSite, 1> kBybitSites{{{"global", "KORVANE_BYBIT_BASE_URL", "https://api.bybit.com"}}};
// A key belongs to one of three regional sites.
constexpr std::array<ExchangeSite, 3> kOkxSites{{
    {"global", "KORVANE_OKX_BASE_URL", "https://www.okx.com"},
    {"eea", "KORVANE_OKX_EEA_BASE_URL", "https://eea.okx.com"},
    {"us", "KORVANE_OKX_US_BASE_URL", "https://us.okx.com"},
}};
constexpr std::array<ExchangeSite, 1> kGateSites{{{"global", "KORVANE_GATE_BASE_URL", "https://api.gateio.ws"}}};
constexpr std::array<ExchangeSite, 1> kBingxSites{
    {{"global", "KORVANE_BINGX_BASE_URL", "https://open-api.bingx.com"}}};
// Futures live on their own host; key information on the account host.
constexpr std::array<ExchangeSite, 2> kKucoinSites{{
    {"futures", "KORVANE_KUCOIN_FUTURES_BASE_URL", "https://api-futures.kucoin.com"},
    {"account", "KORVANE_KUCOIN_BASE_URL", "https://api.kucoin.com"},
}};
constexpr std::array<ExchangeSite, 1> kBitgetSites{
    {{"global", "KORVANE_BITGET_BASE_URL", "https://api.bitget.com"}}};

ExchangeEntry name_only(const char* name, const char* display_name, bool listed = true) {
    ExchangeEntry entry;
    entry.name = name;
    entry.display_name = display_name;
    entry.listed = listed;
    return entry;
}

}  // namespace

const char* to_string(QuantityUnit unit) {
    return unit == QuantityUnit::contracts ? "contracts" : "base_coin";
}

const std::vector<ExchangeEntry>& exchange_table() {
    using enum QuantityUnit;
    static const std::vector<ExchangeEntry> table = {
        {"bybit", "Bybit", false, kBybitSites, joined_symbol, base_coin, kAllCapabilities, &bybit_adapter()},
        {"okx", "OKX", true, kOkxSites, dash_swap_symbol, contracts, kAllCapabilities, &okx_adapter()},
        {"gate", "Gate", false, kGateSites, same_symbol, contracts, kAllCapabilities, &gate_adapter()},
        {"bingx", "BingX", false, kBingxSites, dashed_symbol, base_coin, kAllCapabilities, &bingx_adapter()},
        {"kucoin", "KuCoin", true, kKucoinSites, usdtm_symbol, contracts, kAllCapabilities, &kucoin_adapter()},
        {"bitget", "Bitget", true, kBitgetSites, linear_usdt_symbol, base_coin, kAllCapabilities,
         &bitget_adapter()},
        name_only("hyperliquid", "Hyperliquid"),
        name_only("paradex", "Paradex"),
        name_only("lighter", "Lighter"),
        name_only("extended", "Extended"),
        name_only("reya", "Reya"),
        name_only("asterdex", "Asterdex", false),
    };
    return table;
}

const ExchangeEntry* find_exchange(std::string_view name) {
    for (const ExchangeEntry& entry : exchange_table()) {
        if (entry.name == name) return &entry;
    }
    return nullptr;
}

const ExchangeAdapter* find_adapter(std::string_view name) {
    const ExchangeEntry* entry = find_exchange(name);
    return entry != nullptr ? entry->adapter : nullptr;
}

std::string live_exchange_names(std::string_view separator) {
    std::string names;
    for (const ExchangeEntry& entry : exchange_table()) {
        if (entry.adapter == nullptr) continue;
        if (!names.empty()) names += separator;
        names += entry.name;
    }
    return names;
}

}  // namespace korvane::connector
