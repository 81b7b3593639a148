#pragma once

#include <string>

#include "connector/exchanges/operation_result.h"

namespace korvane::connector {

// Returns the printed envelope of `result`:
//   {"status":"ok","exchange":E,"kind":K,"body":B}                 on success,
//   {"status":"error","reason":R}                                  on a refusal or failure,
//   {"status":"error","reason":R,"exchange":E,"kind":K,"code":C,"message":M,"class":CL,
//    ["retry_after_ms":N,]"body":B}                                when the exchange refused,
// with "client_order_id" after K (or R) for an order, and "covered_minutes" after it on success
// when a history covers less than was asked;
//   {"status":"error","reason":"invalid_response","exchange":E,"kind":K,"body_text":S} for a reply
// that is not JSON (S its first 4 KiB).
std::string envelope(const std::string& exchange, const std::string& kind, const OperationResult& result);

}  // namespace korvane::connector
