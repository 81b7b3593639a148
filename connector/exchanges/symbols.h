#pragma once

#include <string>

namespace korvane::connector {

// The ways exchanges name a contract given as BASE_USDT (BTC_USDT); a table row picks one. No
// mapping changes case.

std::string same_symbol(const std::string& symbol);         // BTC_USDT
std::string dash_swap_symbol(const std::string& symbol);    // BTC-USDT-SWAP
std::string dashed_symbol(const std::string& symbol);       // BTC-USDT
std::string usdtm_symbol(const std::string& symbol);        // XBTUSDTM: bitcoin is XBT there
std::string linear_usdt_symbol(const std::string& symbol);  // BTCUSDT; SOLUSDT -> SOLUSDTUSDT
std::string joined_symbol(const std::string& symbol);       // BTCUSDT; SOLUSDT stays SOLUSDT

}  // namespace korvane::connector
