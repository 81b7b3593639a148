#include "connector/exchanges/exchange_table.h"

#include "connector/exchanges/exchange_adapters.h"

namespace korvane::connector {

const std::vector<ExchangeEntry>& exchange_table() {
    static const std::vector<ExchangeEntry> table = {
        {"bybit", &bybit_adapter()},   {"okx", &okx_adapter()},       {"gate", &gate_adapter()},
        {"bingx", &bingx_adapter()},   {"kucoin", &kucoin_adapter()}, {"bitget", &bitget_adapter()},
        {"hyperliquid", nullptr},      {"paradex", nullptr},          {"lighter", nullptr},
        {"extended", nullptr},         {"reya", nullptr},             {"asterdex", nullptr, false},
    };
    return table;
}

const ExchangeAdapter* find_adapter(std::string_view name) {
    for (const ExchangeEntry& entry : exchange_table()) {
        if (entry.name == name) return entry.adapter;
    }
    return nullptr;
}

}  // namespace korvane::connector
