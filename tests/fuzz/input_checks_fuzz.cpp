// Trading inputs are put into URLs and signed bodies: each check must accept exactly its
// character set and shape, and whole_units must give the same number without its zeros.

#include <cstring>
#include <string>

#include "connector/exchanges/input_checks.h"
#include "tests/fuzz/fuzz_support.h"

namespace korvane::connector {
namespace {

bool is_alnum(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// Returns true when `text` is non-empty and every character is a letter, a digit or in `extra`.
bool made_of(const std::string& text, std::string_view extra) {
    if (text.empty()) return false;
    for (char c : text) {
        if (!is_alnum(c) && extra.find(c) == std::string_view::npos) return false;
    }
    return true;
}

// [0-9]+(\.[0-9]+)? or \.[0-9]+ with a non-zero digit, read as a small state machine.
bool is_positive_decimal(const std::string& text) {
    enum { kStart, kWhole, kDot, kFraction } state = kStart;
    bool non_zero = false;
    for (char c : text) {
        if (is_digit(c)) {
            non_zero = non_zero || c != '0';
            state = state == kStart || state == kWhole ? kWhole : kFraction;
        } else if (c == '.' && (state == kStart || state == kWhole)) {
            state = kDot;
        } else {
            return false;
        }
    }
    return (state == kWhole || state == kFraction) && non_zero;
}

void check_names(const std::string& text) {
    FUZZ_CHECK(check_symbol(text).ok() == made_of(text, "_-"));
    if (!check_symbol(text).ok()) FUZZ_CHECK(check_symbol(text).reason == "invalid_symbol");

    const bool order_id_ok = made_of(text, "_.:-") && text.find_first_not_of("_.:-") != std::string::npos;
    FUZZ_CHECK(check_order_id(text).ok() == order_id_ok);
    if (order_id_ok) FUZZ_CHECK(text != "." && text != ".." && text.find('/') == std::string::npos);
    if (!order_id_ok) FUZZ_CHECK(check_order_id(text).reason == "invalid_order_id");

    FUZZ_CHECK(check_side(text).ok() == (text == "buy" || text == "sell"));
}

void check_amounts(const std::string& text) {
    const bool positive = is_positive_decimal(text);
    FUZZ_CHECK(check_quantity(text).reason == (positive ? "" : "invalid_quantity"));
    FUZZ_CHECK(check_price(text).reason == (positive ? "" : "invalid_price"));
    // Any text, checked or not, must be safe to hand to whole_units.
    const std::string units = whole_units(text);
    if (!positive) return;

    const size_t dot = text.find('.');
    const std::string whole = text.substr(0, dot);
    const bool has_fraction =
        dot != std::string::npos && text.find_first_not_of('0', dot + 1) != std::string::npos;
    FUZZ_CHECK(units.empty() == has_fraction);
    if (has_fraction) return;
    // The same whole number: no leading zero, and only zeros dropped in front of it.
    FUZZ_CHECK(units.find_first_not_of("0123456789") == std::string::npos);
    FUZZ_CHECK(units[0] != '0');
    FUZZ_CHECK(whole.size() >= units.size() &&
               whole.compare(whole.size() - units.size(), units.size(), units) == 0);
    FUZZ_CHECK(whole.substr(0, whole.size() - units.size()).find_first_not_of('0') == std::string::npos);
}

void check_leverage_and_order(std::string_view input, const std::string& text) {
    if (input.size() >= sizeof(int)) {
        int leverage = 0;
        std::memcpy(&leverage, input.data(), sizeof leverage);
        FUZZ_CHECK(check_leverage(leverage).ok() == (leverage >= 1 && leverage <= kMaxLeverage));
    }
    const Status symbol = check_symbol(text), side = check_side(text);
    FUZZ_CHECK(first_refusal({symbol, side}).reason == (symbol.ok() ? side.reason : symbol.reason));
    FUZZ_CHECK(first_refusal({Status::success(), Status::success()}).ok());
}

}  // namespace
}  // namespace korvane::connector

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input = korvane::connector::fuzz_text(data, size);
    const std::string text(input);
    korvane::connector::check_names(text);
    korvane::connector::check_amounts(text);
    korvane::connector::check_leverage_and_order(input, text);
    return 0;
}
