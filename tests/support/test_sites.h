#pragma once

#include <stdlib.h>

#include <string>

#include "connector/exchanges/exchange_table.h"

namespace korvane::connector {

// Points every exchange site at a fixed test host ("https://okx.test" for an exchange's first
// site, "https://okx-eea.test" for the others), so expected URLs do not depend on the defaults or
// on variables left in the developer's shell.
inline void use_test_sites() {
    for (const ExchangeEntry& entry : exchange_table()) {
        for (const ExchangeSite& site : entry.sites) {
            std::string host = entry.name;
            if (&site != &entry.sites.front()) host += std::string("-") + site.name;
            ::setenv(site.variable, ("https://" + host + ".test").c_str(), 1);
        }
        // A demo host of its own; demo environments on the live hosts are set above already.
        if (!entry.demo_sites.empty() && entry.demo_sites.data() != entry.sites.data()) {
            ::setenv(entry.demo_sites.front().variable, ("https://" + std::string(entry.name) + "-demo.test").c_str(), 1);
        }
    }
}

}  // namespace korvane::connector
