#include "connector/toolkit/clock.h"

#include <chrono>
#include <thread>

#include <cstdio>
#include <ctime>

namespace korvane::connector {
namespace {

std::tm utc_parts(int64_t epoch_seconds) {
    const std::time_t t = static_cast<std::time_t>(epoch_seconds);
    std::tm parts{};
    gmtime_r(&t, &parts);
    return parts;
}

std::string format_seconds(const std::tm& parts) {
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", parts.tm_year + 1900, parts.tm_mon + 1,
                  parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
    return text;
}

}  // namespace

int64_t epoch_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

int64_t epoch_sec() {
    using namespace std::chrono;
    return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

std::string format_iso8601(int64_t epoch_millis) {
    return format_iso8601_ms(epoch_millis).substr(0, 19) + "Z";
}

std::string format_iso8601_ms(int64_t epoch_millis) {
    // Floor division keeps the milliseconds part in 0..999 for times before the epoch too.
    int64_t seconds = epoch_millis / 1000;
    int64_t millis = epoch_millis % 1000;
    if (millis < 0) {
        millis += 1000;
        seconds -= 1;
    }
    char fraction[8];
    std::snprintf(fraction, sizeof fraction, ".%03d", static_cast<int>(millis));
    return format_seconds(utc_parts(seconds)) + fraction + "Z";
}

Deadline Deadline::after_ms(int64_t ms) {
    using namespace std::chrono;
    Deadline deadline;
    deadline.at_ms_ = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count() + ms;
    return deadline;
}

int64_t Deadline::remaining_ms() const {
    using namespace std::chrono;
    const int64_t now = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    return at_ms_ > now ? at_ms_ - now : 0;
}

int64_t Deadline::cap_ms(int64_t limit_ms) const {
    const int64_t left = remaining_ms();
    return left < limit_ms ? left : limit_ms;
}

std::string iso8601_now_ms() {
    return format_iso8601_ms(epoch_ms());
}

void Clock::sleep_ms(int64_t ms) const {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace korvane::connector
