#pragma once

#include <span>
#include <string>
#include <string_view>

namespace korvane::connector {

// One host an exchange answers on: its REST base URL (scheme and host, no trailing slash), which
// an environment variable may replace.
struct ExchangeSite {
    const char* name = "";         // as remembered beside a credential: "global", "eea", "futures", ...
    const char* variable = "";     // the variable that overrides the URL; set (even empty), it wins
    const char* default_url = "";  // the exchange's public production host
};

// Returns the base URL of `site`: its variable's value when set, else its default.
std::string site_url(const ExchangeSite& site);

// Returns the base URL of the site called `name` among `sites`; the first site's for an empty
// or unknown name (a credential checked before sites were remembered belongs to the first).
std::string site_url(std::span<const ExchangeSite> sites, std::string_view name = {});

}  // namespace korvane::connector
