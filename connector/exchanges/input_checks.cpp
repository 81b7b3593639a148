#include "connector/exchanges/input_checks.h"

#include <string_view>

namespace korvane::connector {
namespace {

bool all_of_set(const std::string& text, std::string_view extra) {
    if (text.empty()) return false;
    for (char c : text) {
        const bool alnum = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        if (!alnum && extra.find(c) == std::string_view::npos) return false;
    }
    return true;
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// [0-9]+(\.[0-9]+)? or \.[0-9]+ with at least one non-zero digit.
bool positive_decimal(const std::string& text) {
    const size_t dot = text.find('.');
    const std::string whole = text.substr(0, dot);
    const std::string fraction = dot == std::string::npos ? "" : text.substr(dot + 1);
    if (dot != std::string::npos && fraction.empty()) return false;
    if (dot == std::string::npos && whole.empty()) return false;
    bool non_zero = false;
    for (const std::string* part : {&whole, &fraction}) {
        for (char c : *part) {
            if (!is_digit(c)) return false;
            non_zero = non_zero || c != '0';
        }
    }
    return non_zero;
}

}  // namespace

Status check_symbol(const std::string& symbol) {
    return all_of_set(symbol, "_-") ? Status::success()
                                    : Status::failure("invalid_symbol", "a symbol is letters, digits, _ and -");
}

Status check_order_id(const std::string& order_id) {
    // "." and ".." would collapse the path the id is put into.
    const bool has_alnum = order_id.find_first_not_of("_.:-") != std::string::npos;
    return all_of_set(order_id, "_.:-") && has_alnum
               ? Status::success()
               : Status::failure("invalid_order_id", "an order id is letters, digits, _ . : and -");
}

Status check_side(const std::string& side) {
    return side == "buy" || side == "sell" ? Status::success()
                                           : Status::failure("invalid_side", "the side is buy or sell");
}

Status check_quantity(const std::string& quantity) {
    return positive_decimal(quantity) ? Status::success()
                                      : Status::failure("invalid_quantity", "a quantity is a positive decimal");
}

Status check_price(const std::string& price) {
    return positive_decimal(price) ? Status::success()
                                   : Status::failure("invalid_price", "a price is a positive decimal");
}

Status check_leverage(int leverage) {
    return leverage >= 1 && leverage <= kMaxLeverage
               ? Status::success()
               : Status::failure("invalid_leverage", "leverage is 1 to " + std::to_string(kMaxLeverage));
}

std::string whole_units(const std::string& quantity) {
    const size_t dot = quantity.find('.');
    if (dot != std::string::npos && quantity.find_first_not_of('0', dot + 1) != std::string::npos) return "";
    const std::string whole = quantity.substr(0, dot);
    const size_t first = whole.find_first_not_of('0');
    return first == std::string::npos ? "0" : whole.substr(first);
}

Status check_whole_units(const std::string& quantity) {
    return whole_units(quantity).empty() ? Status::failure("invalid_quantity", "whole contracts only")
                                         : Status::success();
}

Status first_refusal(std::initializer_list<Status> checks) {
    for (const Status& check : checks) {
        if (!check.ok()) return check;
    }
    return Status::success();
}

}  // namespace korvane::connector
