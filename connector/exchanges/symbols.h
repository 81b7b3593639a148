#pragma once

#include <string>

namespace korvane::connector {

// Each exchange's instrument name for a contract name such as BTC_USDT. No mapping changes case.
std::string okx_inst_id(const std::string& symbol);           // BTC-USDT-SWAP
std::string bingx_symbol(const std::string& symbol);          // BTC-USDT
std::string kucoin_symbol(const std::string& symbol);         // XBTUSDTM
std::string reader_linear_symbol(const std::string& symbol);  // BTCUSDT; SOLUSDT -> SOLUSDTUSDT
std::string bybit_native(const std::string& symbol);          // BTCUSDT; SOLUSDT stays SOLUSDT

}  // namespace korvane::connector
