#include "connector/exchanges/cex_reader.h"

#include "connector/exchanges/input_checks.h"
#include "connector/exchanges/request_signing.h"
#include "connector/toolkit/clock.h"

namespace korvane::connector {
namespace {

// The checks an order lookup or cancellation makes before sending anything, in their fixed
// order. Fills `credential` and returns an empty string when the request may go out; else the
// failure envelope.
std::string order_refusal(const KeyVault& vault, const std::string& exchange, const std::string& symbol,
                          const std::string& order_id, StoredCredential& credential) {
    const auto stored = vault.load(exchange);
    if (!stored) return fail_json("credentials_not_found");
    if (order_id.empty()) return fail_json("missing_order_id");
    if (!is_live_exchange(exchange)) return fail_json("unsupported_exchange");
    if (const std::string refusal = first_refusal({check_symbol(symbol), check_order_id(order_id)});
        !refusal.empty()) {
        return fail_json(refusal);
    }
    credential = *stored;
    return "";
}

}  // namespace

bool is_live_exchange(const std::string& exchange) {
    return exchange == "bybit" || exchange == "okx" || exchange == "gate" || exchange == "bingx" ||
           exchange == "kucoin" || exchange == "bitget";
}

std::string CexReader::get_balance(const std::string& exchange) const {
    const auto credential = vault_.load(exchange);
    if (!credential) return fail_json("credentials_not_found");
    if (!is_live_exchange(exchange)) return fail_json("unsupported_exchange");
    const StoredCredential& c = *credential;
    HttpResult reply;
    if (exchange == "bybit") {
        reply = bybit_request(c, "GET", "/v5/account/wallet-balance", "accountType=UNIFIED", "", ms_stamp());
    } else if (exchange == "okx") {
        reply = okx_request(c, "GET", "/api/v5/account/balance?ccy=USDT", "", iso8601_now_ms());
    } else if (exchange == "gate") {
        reply = gate_request(c, "GET", "/api/v4/futures/usdt/accounts", "", "", sec_stamp(), false);
    } else if (exchange == "bingx") {
        reply = bingx_request(c, "GET", "/openApi/swap/v2/user/balance", "", ms_stamp());
    } else if (exchange == "kucoin") {
        reply = kucoin_request(c, "GET", "/api/v1/account-overview?currency=USDT", ms_stamp());
    } else {
        reply = bitget_request(c, "GET", "/api/v2/mix/account/accounts", "productType=USDT-FUTURES", "",
                               ms_stamp(), true);
    }
    return envelope_for(reply, exchange, "balance");
}

std::string CexReader::get_position(const std::string& exchange, const std::string& symbol) const {
    const auto credential = vault_.load(exchange);
    if (!credential) return fail_json("credentials_not_found");
    if (!is_live_exchange(exchange)) return fail_json("unsupported_exchange");
    if (const std::string refusal = check_symbol(symbol); !refusal.empty()) return fail_json(refusal);
    const StoredCredential& c = *credential;
    HttpResult reply;
    if (exchange == "bybit") {
        reply = bybit_request(c, "GET", "/v5/position/list",
                              "category=linear&symbol=" + reader_linear_symbol(symbol) + "&settleCoin=USDT",
                              "", ms_stamp());
    } else if (exchange == "okx") {
        reply = okx_request(c, "GET", "/api/v5/account/positions?instType=SWAP&instId=" + okx_inst_id(symbol),
                            "", iso8601_now_ms());
    } else if (exchange == "gate") {
        // Gate lists every open position; the symbol is not sent.
        reply =
            gate_request(c, "GET", "/api/v4/futures/usdt/positions", "holding=true", "", sec_stamp(), false);
    } else if (exchange == "bingx") {
        reply = bingx_request(c, "GET", "/openApi/swap/v2/user/positions",
                              "symbol=" + bingx_symbol(symbol) + "&", ms_stamp());
    } else if (exchange == "kucoin") {
        reply = kucoin_request(c, "GET", "/api/v1/position?symbol=" + kucoin_symbol(symbol), ms_stamp());
    } else {
        reply = bitget_request(
            c, "GET", "/api/v2/mix/position/single-position",
            "symbol=" + reader_linear_symbol(symbol) + "&productType=USDT-FUTURES&marginCoin=USDT", "",
            ms_stamp(), false);
    }
    return envelope_for(reply, exchange, "position");
}

std::string CexReader::get_order_status(const std::string& exchange, const std::string& symbol,
                                        const std::string& order_id) const {
    StoredCredential c;
    if (const std::string refusal = order_refusal(vault_, exchange, symbol, order_id, c); !refusal.empty()) {
        return refusal;
    }
    HttpResult reply;
    if (exchange == "bybit") {
        reply =
            bybit_request(c, "GET", "/v5/order/realtime",
                          "category=linear&symbol=" + reader_linear_symbol(symbol) + "&orderId=" + order_id,
                          "", ms_stamp());
    } else if (exchange == "okx") {
        reply =
            okx_request(c, "GET", "/api/v5/trade/order?instId=" + okx_inst_id(symbol) + "&ordId=" + order_id,
                        "", iso8601_now_ms());
    } else if (exchange == "gate") {
        reply = gate_request(c, "GET", "/api/v4/futures/usdt/orders/" + order_id, "contract=" + symbol, "",
                             sec_stamp(), false);
    } else if (exchange == "kucoin") {
        reply = kucoin_request(c, "GET", "/api/v1/orders/" + order_id, ms_stamp());
    } else if (exchange == "bitget") {
        reply = bitget_request(
            c, "GET", "/api/v2/mix/order/detail",
            "symbol=" + reader_linear_symbol(symbol) + "&productType=USDT-FUTURES&orderId=" + order_id, "",
            ms_stamp(), false);
    } else {
        reply = bingx_request(c, "GET", "/openApi/swap/v2/trade/order",
                              "symbol=" + bingx_symbol(symbol) + "&orderId=" + order_id + "&", ms_stamp());
    }
    return envelope_for(reply, exchange, "order_status");
}

std::string CexReader::cancel_order(const std::string& exchange, const std::string& symbol,
                                    const std::string& order_id) const {
    StoredCredential c;
    if (const std::string refusal = order_refusal(vault_, exchange, symbol, order_id, c); !refusal.empty()) {
        return refusal;
    }
    HttpResult reply;
    if (exchange == "bybit") {
        reply = bybit_request(c, "POST", "/v5/order/cancel", "",
                              "{\"category\":\"linear\",\"symbol\":\"" + reader_linear_symbol(symbol) +
                                  "\",\"orderId\":\"" + order_id + "\"}",
                              ms_stamp());
    } else if (exchange == "okx") {
        reply = okx_request(c, "POST", "/api/v5/trade/cancel-order",
                            "{\"instId\":\"" + okx_inst_id(symbol) + "\",\"ordId\":\"" + order_id + "\"}",
                            iso8601_now_ms());
    } else if (exchange == "gate") {
        reply = gate_request(c, "DELETE", "/api/v4/futures/usdt/orders/" + order_id, "contract=" + symbol, "",
                             sec_stamp(), false);
    } else if (exchange == "kucoin") {
        reply = kucoin_request(c, "DELETE", "/api/v1/orders/" + order_id, ms_stamp());
    } else if (exchange == "bitget") {
        reply = bitget_request(c, "POST", "/api/v2/mix/order/cancel-order", "",
                               "{\"symbol\":\"" + reader_linear_symbol(symbol) +
                                   "\",\"productType\":\"USDT-FUTURES\",\"orderId\":\"" + order_id + "\"}",
                               ms_stamp(), false);
    } else {
        reply = bingx_request(c, "DELETE", "/openApi/swap/v2/trade/order",
                              "symbol=" + bingx_symbol(symbol) + "&orderId=" + order_id + "&", ms_stamp());
    }
    return envelope_for(reply, exchange, "cancel_order");
}

}  // namespace korvane::connector
