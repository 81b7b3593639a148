#include "connector/exchanges/exchange_sites.h"

#include "connector/toolkit/endpoints.h"

namespace korvane::connector {

std::string site_url(const ExchangeSite& site) {
    return env_or(site.variable, site.default_url);
}

std::string site_url(std::span<const ExchangeSite> sites, std::string_view name) {
    if (sites.empty()) return "";
    for (const ExchangeSite& site : sites) {
        if (site.name == name) return site_url(site);
    }
    return site_url(sites.front());
}

}  // namespace korvane::connector
