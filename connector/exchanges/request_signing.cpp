#include "connector/exchanges/request_signing.h"

#include "connector/toolkit/clock.h"
#include "connector/toolkit/digest.h"
#include "connector/toolkit/endpoints.h"
#include "connector/toolkit/shell.h"
#include "connector/toolkit/text.h"

namespace korvane::connector {
namespace {

constexpr const char* kJsonContent = "Content-Type: application/json";

std::string with_query(const std::string& path, const std::string& query) {
    return query.empty() ? path : path + "?" + query;
}

HttpResult send(const std::string& method, const std::string& url, const std::string& body,
                const std::vector<std::string>& header_lines) {
    const std::string headers = make_headers(header_lines);
    if (method == "POST") return http_post_json(url, body, headers);
    if (method == "DELETE") return http_delete(url, headers);
    return http_get(url, headers);
}

}  // namespace

std::string ms_stamp() {
    return std::to_string(epoch_ms());
}

std::string sec_stamp() {
    return std::to_string(epoch_sec());
}

std::string fail_json(const std::string& reason) {
    return "{\"status\":\"error\",\"reason\":\"" + reason + "\"}";
}

std::string ok_json(const std::string& exchange, const std::string& kind, const std::string& body) {
    return "{\"status\":\"ok\",\"exchange\":\"" + exchange + "\",\"kind\":\"" + kind + "\",\"body\":" + body +
           "}";
}

std::string envelope_for(const HttpResult& reply, const std::string& exchange, const std::string& kind) {
    return reply.exit_code != 0 ? fail_json("http_failed") : ok_json(exchange, kind, reply.body);
}

std::string make_headers(const std::vector<std::string>& lines) {
    std::string options;
    for (const std::string& line : lines) options += "-H " + shell_escape(line) + " ";
    return options;
}

std::string okx_inst_id(const std::string& symbol) {
    const size_t at = symbol.find("_USDT");
    return at == std::string::npos ? symbol : symbol.substr(0, at) + "-USDT-SWAP";
}

std::string bingx_symbol(const std::string& symbol) {
    std::string mapped = symbol;
    const size_t at = mapped.find('_');
    if (at != std::string::npos) mapped[at] = '-';
    return mapped;
}

std::string kucoin_symbol(const std::string& symbol) {
    std::string base = before_first(symbol, "_USDT");
    if (base == "BTC") base = "XBT";  // KuCoin futures names bitcoin XBT
    return base + "USDTM";
}

std::string reader_linear_symbol(const std::string& symbol) {
    return before_first(symbol, "_") + "USDT";
}

std::string bybit_native(const std::string& symbol) {
    return symbol.find('_') == std::string::npos ? symbol : before_first(symbol, "_") + "USDT";
}

HttpResult bybit_request(const StoredCredential& credential, const std::string& method,
                         const std::string& path, const std::string& query, const std::string& body,
                         const std::string& timestamp) {
    const std::string payload = method == "POST" ? body : query;
    const std::string signature =
        hmac_sha256_hex(credential.api_secret, timestamp + credential.api_key + "5000" + payload);
    std::vector<std::string> lines = {"X-BAPI-API-KEY: " + credential.api_key,
                                      "X-BAPI-TIMESTAMP: " + timestamp, "X-BAPI-RECV-WINDOW: 5000",
                                      "X-BAPI-SIGN: " + signature};
    if (method == "POST") lines.push_back(kJsonContent);
    return send(method, base_url(Site::bybit) + with_query(path, query), body, lines);
}

HttpResult okx_request(const StoredCredential& credential, const std::string& method,
                       const std::string& path_with_query, const std::string& body,
                       const std::string& timestamp) {
    const std::string signature =
        hmac_sha256_base64(credential.api_secret, timestamp + method + path_with_query + body);
    std::vector<std::string> lines = {"OK-ACCESS-KEY: " + credential.api_key, "OK-ACCESS-SIGN: " + signature,
                                      "OK-ACCESS-TIMESTAMP: " + timestamp,
                                      "OK-ACCESS-PASSPHRASE: " + credential.passphrase};
    if (method == "POST") lines.push_back(kJsonContent);
    return send(method, base_url(Site::okx) + path_with_query, body, lines);
}

HttpResult gate_request(const StoredCredential& credential, const std::string& method,
                        const std::string& path, const std::string& query, const std::string& body,
                        const std::string& timestamp, bool json_body) {
    const std::string prehash =
        method + "\n" + path + "\n" + query + "\n" + sha512_hex(body) + "\n" + timestamp;
    std::vector<std::string> lines = {"KEY: " + credential.api_key, "Timestamp: " + timestamp,
                                      "SIGN: " + hmac_sha512_hex(credential.api_secret, prehash)};
    if (json_body) lines.push_back(kJsonContent);
    return send(method, base_url(Site::gate) + with_query(path, query), body, lines);
}

HttpResult bingx_request(const StoredCredential& credential, const std::string& method,
                         const std::string& path, const std::string& params, const std::string& timestamp) {
    const std::string query = params + "timestamp=" + timestamp;
    const std::string signature = hmac_sha256_hex(credential.api_secret, query);
    return send(method, base_url(Site::bingx) + path + "?" + query + "&signature=" + signature, "",
                {"X-BX-APIKEY: " + credential.api_key});
}

HttpResult kucoin_request(const StoredCredential& credential, const std::string& method,
                          const std::string& path_with_query, const std::string& timestamp) {
    const std::string signature =
        hmac_sha256_base64(credential.api_secret, timestamp + method + path_with_query);
    return send(
        method, base_url(Site::kucoin_futures) + path_with_query, "",
        {"KC-API-KEY: " + credential.api_key, "KC-API-SIGN: " + signature, "KC-API-TIMESTAMP: " + timestamp,
         "KC-API-PASSPHRASE: " + hmac_sha256_base64(credential.api_secret, credential.passphrase),
         "KC-API-KEY-VERSION: 2"});
}

HttpResult bitget_request(const StoredCredential& credential, const std::string& method,
                          const std::string& path, const std::string& query, const std::string& body,
                          const std::string& timestamp, bool channel_headers) {
    const std::string target = with_query(path, query);
    const std::string signature =
        hmac_sha256_base64(credential.api_secret, timestamp + method + target + body);
    std::vector<std::string> lines = {"ACCESS-KEY: " + credential.api_key, "ACCESS-SIGN: " + signature,
                                      "ACCESS-TIMESTAMP: " + timestamp,
                                      "ACCESS-PASSPHRASE: " + credential.passphrase, kJsonContent};
    if (channel_headers) {
        lines.push_back("locale: en-US");
        lines.push_back("X-CHANNEL-API-CODE: qwvtz");
    }
    return send(method, base_url(Site::bitget) + target, body, lines);
}

}  // namespace korvane::connector
