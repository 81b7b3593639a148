#pragma once

#include <cstdint>
#include <string>

namespace korvane::connector {

// Returns the current UTC time as "YYYY-MM-DDTHH:MM:SS.mmmZ".
std::string iso8601_now_ms();

// Returns milliseconds since the Unix epoch.
int64_t epoch_ms();

// Returns whole seconds since the Unix epoch.
int64_t epoch_sec();

// The time source of a run. Requests are stamped with it; tests substitute a drifted one.
class Clock {
  public:
    virtual ~Clock() = default;
    // Returns milliseconds since the Unix epoch.
    virtual int64_t now_ms() const = 0;
    // Waits `ms` milliseconds (a request the exchange asked us to send later); tests skip it.
    virtual void sleep_ms(int64_t ms) const;
};

// The system's wall clock.
class SystemClock : public Clock {
  public:
    int64_t now_ms() const override { return epoch_ms(); }
};

// A point on the monotonic clock by which a piece of work must be done.
class Deadline {
  public:
    // Returns the deadline `ms` milliseconds from now.
    static Deadline after_ms(int64_t ms);
    // Returns the milliseconds left, never below 0.
    int64_t remaining_ms() const;
    // Returns `limit_ms`, or what is left of the deadline when that is less.
    int64_t cap_ms(int64_t limit_ms) const;

  private:
    int64_t at_ms_ = 0;  // on the steady clock
};

// Returns `epoch_millis` formatted as "YYYY-MM-DDTHH:MM:SSZ" (whole seconds).
std::string format_iso8601(int64_t epoch_millis);

// Returns `epoch_millis` formatted as "YYYY-MM-DDTHH:MM:SS.mmmZ"; the clocks above use it.
std::string format_iso8601_ms(int64_t epoch_millis);

}  // namespace korvane::connector
