#pragma once

#include <cstdint>
#include <string>

namespace korvane::connector {

// Returns the current UTC time as "YYYY-MM-DDTHH:MM:SSZ" (whole seconds).
std::string now_iso8601();

// Returns the current UTC time as "YYYY-MM-DDTHH:MM:SS.mmmZ".
std::string iso8601_now_ms();

// Returns milliseconds since the Unix epoch.
int64_t epoch_ms();

// Returns whole seconds since the Unix epoch.
int64_t epoch_sec();

// Returns `epoch_millis` formatted as "YYYY-MM-DDTHH:MM:SS.mmmZ"; the clocks above use it.
std::string format_iso8601_ms(int64_t epoch_millis);

}  // namespace korvane::connector
