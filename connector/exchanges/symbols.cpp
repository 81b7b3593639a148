#include "connector/exchanges/symbols.h"

#include "connector/toolkit/text.h"

namespace korvane::connector {

std::string same_symbol(const std::string& symbol) {
    return symbol;
}

std::string dash_swap_symbol(const std::string& symbol) {
    const size_t at = symbol.find("_USDT");
    return at == std::string::npos ? symbol : symbol.substr(0, at) + "-USDT-SWAP";
}

std::string dashed_symbol(const std::string& symbol) {
    std::string mapped = symbol;
    const size_t at = mapped.find('_');
    if (at != std::string::npos) mapped[at] = '-';
    return mapped;
}

std::string usdtm_symbol(const std::string& symbol) {
    std::string base = before_first(symbol, "_USDT");
    if (base == "BTC") base = "XBT";
    return base + "USDTM";
}

std::string linear_usdt_symbol(const std::string& symbol) {
    return before_first(symbol, "_") + "USDT";
}

std::string joined_symbol(const std::string& symbol) {
    return symbol.find('_') == std::string::npos ? symbol : before_first(symbol, "_") + "USDT";
}

}  // namespace korvane::connector
