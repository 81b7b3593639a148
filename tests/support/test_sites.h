#pragma once

#include <stdlib.h>

#include "connector/toolkit/endpoints.h"

namespace korvane::connector {

// Points every exchange site at a fixed test host ("https://okx-eea.test", ...), so expected URLs
// do not depend on the defaults or on variables left in the developer's shell.
inline void use_test_sites() {
    const struct {
        Site site;
        const char* url;
    } sites[] = {
        {Site::bybit, "https://bybit.test"},
        {Site::okx, "https://okx.test"},
        {Site::okx_eea, "https://okx-eea.test"},
        {Site::okx_us, "https://okx-us.test"},
        {Site::gate, "https://gate.test"},
        {Site::bingx, "https://bingx.test"},
        {Site::kucoin_futures, "https://kucoin.test"},
        {Site::kucoin, "https://kucoin-account.test"},
        {Site::bitget, "https://bitget.test"},
    };
    for (const auto& entry : sites) ::setenv(base_url_variable(entry.site), entry.url, 1);
}

}  // namespace korvane::connector
