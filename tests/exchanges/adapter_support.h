#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "connector/exchanges/exchange_adapter.h"
#include "connector/exchanges/exchange_table.h"
#include "tests/support/fakes.h"
#include "tests/support/test_sites.h"

namespace korvane::connector {

// The moment every adapter test runs at: 2023-11-14T22:13:20.123Z.
constexpr int64_t kNowMs = 1700000000123;
inline const std::string kNowText = "1700000000123";
inline const std::string kNowIso = "2023-11-14T22:13:20.123Z";

// The credential every adapter test signs with.
inline StoredCredential test_credential(const std::string& exchange) {
    return StoredCredential{exchange, "key-1", "secret-1", "pass-1"};
}

// Returns what a test remembers of an account: its position mode, KuCoin key version 2, isolated
// KuCoin contracts and a Gate account in single mode.
inline AccountMemory known(const std::string& position_mode) {
    AccountMemory memory;
    memory.key_version = "2";
    memory.position_mode = position_mode;
    // KuCoin's contract margin mode and Gate's position mode, so that orders go out unasked.
    memory.margin_modes = "XBTUSDTM=isolated";
    memory.dual_mode = "false";
    return memory;
}

// The fake outside world of one adapter test, and sessions on it.
struct AdapterBench {
    AdapterBench() { use_test_sites(); }

    ExchangeSession session(const std::string& exchange, const AccountMemory& memory = {}) {
        return ExchangeSession{test_credential(exchange), http,         clock, memory,
                               kOperationRequestMs,       std::nullopt, find_exchange(exchange)->sites};
    }

    FakeHttpClient http;
    FixedClock clock{kNowMs};
};

inline const ExchangeAdapter& adapter_of(const std::string& exchange) {
    return *find_adapter(exchange);
}

// Returns the text of `url`'s query parameter `name`; empty when it has none.
inline std::string query_value(const std::string& url, const std::string& name) {
    const size_t query = url.find('?');
    if (query == std::string::npos) return "";
    size_t at = query;
    while (at != std::string::npos) {
        const size_t start = at + 1;
        if (url.compare(start, name.size() + 1, name + "=") == 0) {
            const size_t end = url.find('&', start);
            return url.substr(start + name.size() + 1,
                              end == std::string::npos ? std::string::npos : end - start - name.size() - 1);
        }
        at = url.find('&', start);
    }
    return "";
}

// Returns the timestamp request `index` was stamped with, as the exchange carries it.
inline std::string stamp_of(const FakeHttpClient& http, const std::string& exchange, size_t index) {
    if (exchange == "bybit") return http.header(index, "X-BAPI-TIMESTAMP");
    if (exchange == "okx") return http.header(index, "OK-ACCESS-TIMESTAMP");
    if (exchange == "gate") return http.header(index, "Timestamp");
    if (exchange == "bingx") return query_value(http.sent.at(index).url, "timestamp");
    if (exchange == "kucoin") return http.header(index, "KC-API-TIMESTAMP");
    return http.header(index, "ACCESS-TIMESTAMP");
}

}  // namespace korvane::connector
