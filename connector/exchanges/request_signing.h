#pragma once

#include <string>
#include <vector>

#include "connector/state/key_vault.h"
#include "connector/toolkit/http.h"

namespace korvane::connector {

// Result envelope of every exchange operation.
// Returns {"status":"error","reason":"<reason>"}.
std::string fail_json(const std::string& reason);
// Returns {"status":"ok","exchange":"<exchange>","kind":"<kind>","body":<body>}; body verbatim.
std::string ok_json(const std::string& exchange, const std::string& kind, const std::string& body);
// Returns the envelope for `reply`: "http_failed" when curl failed, else ok with its body.
std::string envelope_for(const HttpResult& reply, const std::string& exchange, const std::string& kind);

// Returns curl header options ("-H '<line>' " each) for `lines`, in order.
std::string make_headers(const std::vector<std::string>& lines);

// Symbol mappings from a contract name such as BTC_USDT.
std::string okx_inst_id(const std::string& symbol);           // BTC-USDT-SWAP
std::string bingx_symbol(const std::string& symbol);          // BTC-USDT
std::string kucoin_symbol(const std::string& symbol);         // XBTUSDTM
std::string reader_linear_symbol(const std::string& symbol);  // BTCUSDT; SOLUSDT -> SOLUSDTUSDT
std::string bybit_native(const std::string& symbol);          // BTCUSDT; SOLUSDT stays SOLUSDT

// Returns the current time as the decimal text a request signs and sends: milliseconds or
// seconds since the Unix epoch.
std::string ms_stamp();
std::string sec_stamp();

// Signed requests, one per exchange convention. `timestamp` is the exact text that is both
// signed and sent; `query` excludes the "?"; an empty `body` sends no data.
HttpResult bybit_request(const StoredCredential& credential, const std::string& method,
                         const std::string& path, const std::string& query, const std::string& body,
                         const std::string& timestamp);
HttpResult okx_request(const StoredCredential& credential, const std::string& method,
                       const std::string& path_with_query, const std::string& body,
                       const std::string& timestamp);
// `json_body` adds the content-type line (order requests); the leverage POST has none.
HttpResult gate_request(const StoredCredential& credential, const std::string& method,
                        const std::string& path, const std::string& query, const std::string& body,
                        const std::string& timestamp, bool json_body);
// `params` are the query parameters before "timestamp=", each followed by "&" (or empty).
HttpResult bingx_request(const StoredCredential& credential, const std::string& method,
                         const std::string& path, const std::string& params, const std::string& timestamp);
HttpResult kucoin_request(const StoredCredential& credential, const std::string& method,
                          const std::string& path_with_query, const std::string& timestamp);
// `channel_headers` adds the locale and channel-code lines (the balance request).
HttpResult bitget_request(const StoredCredential& credential, const std::string& method,
                          const std::string& path, const std::string& query, const std::string& body,
                          const std::string& timestamp, bool channel_headers);

}  // namespace korvane::connector
