#pragma once

#include "connector/exchanges/exchange_adapter.h"

namespace korvane::connector {

// The live adapters, one per exchange file. Each lives for the whole run.
const ExchangeAdapter& bybit_adapter();
const ExchangeAdapter& okx_adapter();
const ExchangeAdapter& gate_adapter();
const ExchangeAdapter& bingx_adapter();
const ExchangeAdapter& kucoin_adapter();
const ExchangeAdapter& bitget_adapter();

}  // namespace korvane::connector
