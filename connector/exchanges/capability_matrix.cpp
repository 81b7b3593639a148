#include "connector/exchanges/capability_matrix.h"

namespace korvane::connector {

std::vector<ExchangeCapabilityMatrix> talvio_capability_baseline() {
    std::vector<ExchangeCapabilityMatrix> rows;
    for (const char* name : {"bybit", "okx", "gate", "bingx", "kucoin", "bitget"}) {
        rows.push_back({name, true, true, true, true, true, true, true, true, true, true, true});
    }
    for (const char* name : {"hyperliquid", "paradex", "lighter", "extended", "reya", "asterdex"}) {
        ExchangeCapabilityMatrix row;
        row.exchange = name;
        rows.push_back(row);
    }
    return rows;
}

}  // namespace korvane::connector
