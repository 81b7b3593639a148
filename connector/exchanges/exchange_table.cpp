#include "connector/exchanges/exchange_table.h"

#include <array>

#include "connector/exchanges/symbols.h"
#include "connector/state/account_memory.h"

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

// Demo trading: a host of its own, or the live hosts with a header that marks demo requests.
constexpr std::array<ExchangeSite, 1> kBybitDemoSites{
    {{"global", "KORVANE_BYBIT_DEMO_BASE_URL", "https://api-demo.bybit.com"}}};
constexpr std::array<ExchangeSite, 1> kGateDemoSites{
    {{"global", "KORVANE_GATE_DEMO_BASE_URL", "https://fx-api-testnet.gateio.ws"}}};
constexpr std::array<ExchangeSite, 1> kBingxDemoSites{
    {{"global", "KORVANE_BINGX_DEMO_BASE_URL", "https://open-api-vst.bingx.com"}}};

// Returns the row of an exchange with an adapter.
ExchangeEntry live(const char* name, const char* display_name, bool passphrase, std::span<const ExchangeSite> sites,
                   std::string (*native_symbol)(const std::string&), QuantityUnit unit, const ExchangeAdapter& adapter,
                   std::span<const ExchangeSite> demo_sites, const char* demo_header = nullptr) {
    ExchangeEntry entry;
    entry.name = name;
    entry.display_name = display_name;
    entry.passphrase = passphrase;
    entry.sites = sites;
    entry.demo_sites = demo_sites;
    entry.demo_header = demo_header;
    entry.native_symbol = native_symbol;
    entry.quantity_unit = unit;
    entry.capabilities = kAllCapabilities;
    entry.adapter = &adapter;
    return entry;
}

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
        live("bybit", "Bybit", false, kBybitSites, joined_symbol, base_coin, bybit_adapter(), kBybitDemoSites),
        live("okx", "OKX", true, kOkxSites, dash_swap_symbol, contracts, okx_adapter(), kOkxSites,
             "x-simulated-trading: 1"),
        live("gate", "Gate", false, kGateSites, same_symbol, contracts, gate_adapter(), kGateDemoSites),
        live("bingx", "BingX", false, kBingxSites, dashed_symbol, base_coin, bingx_adapter(), kBingxDemoSites),
        // KuCoin closed its futures sandbox: no demo trading there.
        live("kucoin", "KuCoin", true, kKucoinSites, usdtm_symbol, contracts, kucoin_adapter(), {}),
        live("bitget", "Bitget", true, kBitgetSites, linear_usdt_symbol, base_coin, bitget_adapter(), kBitgetSites,
             "paptrading: 1"),
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

std::span<const ExchangeSite> sites_for(const ExchangeEntry& entry, const std::string& environment) {
    return environment == kDemoEnvironment ? entry.demo_sites : entry.sites;
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
