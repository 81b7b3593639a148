#pragma once

#include <string>
#include <vector>

namespace korvane::connector {

// Which operations the connector offers for one exchange.
struct ExchangeCapabilityMatrix {
    std::string exchange;
    bool validate = false;
    bool balance = false;
    bool position = false;
    bool funding = false;
    bool close_report = false;
    bool open = false;
    bool close = false;
    bool cancel = false;
    bool status = false;
    bool leverage_sync = false;
    bool margin_mode_sync = false;
};

// Returns one row per exchange of the table, in its order: every flag for an exchange with an
// adapter, none for the others.
std::vector<ExchangeCapabilityMatrix> talvio_capability_baseline();

}  // namespace korvane::connector
