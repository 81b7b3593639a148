#include "connector/exchanges/capability_matrix.h"

#include "connector/exchanges/exchange_table.h"

namespace korvane::connector {

std::vector<ExchangeCapabilityMatrix> talvio_capability_baseline() {
    std::vector<ExchangeCapabilityMatrix> rows;
    for (const ExchangeEntry& entry : exchange_table()) {
        // Every adapter carries every operation; a name without one carries none.
        const bool live = entry.adapter != nullptr;
        rows.push_back({std::string(entry.name), live, live, live, live, live, live, live, live, live, live, live});
    }
    return rows;
}

}  // namespace korvane::connector
