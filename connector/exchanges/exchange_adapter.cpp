#include "connector/exchanges/exchange_adapter.h"

namespace korvane::connector {

std::string ExchangeAdapter::check_quantity(const std::string&) const {
    return "";
}

}  // namespace korvane::connector
