// Number operands come from the command line: the parser must agree with a plain reading
// (C white space, one sign, digits, the rest ignored) and refuse what does not fit in 32 bits.

#include <climits>
#include <optional>
#include <string>

#include "connector/app/command_dispatcher.h"
#include "tests/fuzz/fuzz_support.h"

namespace korvane::connector {
namespace {

bool is_c_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Returns the number `text` starts with, digit by digit; empty without digits or past 32 bits.
std::optional<int> plain_reading(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && is_c_space(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i == text.size() || text[i] < '0' || text[i] > '9') return std::nullopt;
    long long magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        magnitude = magnitude * 10 + (text[i] - '0');
        if (magnitude > -static_cast<long long>(INT_MIN)) return std::nullopt;
    }
    const long long value = negative ? -magnitude : magnitude;
    if (value > INT_MAX) return std::nullopt;
    return static_cast<int>(value);
}

void check_operand(std::string_view input) {
    // The operand arrives as a C string: it ends at the first NUL.
    const std::string text(input.substr(0, input.find('\0')));
    const std::optional<int> expected = plain_reading(text);
    int value = 0;
    const bool parsed = parse_int_operand(text.c_str(), value);
    FUZZ_CHECK(parsed == expected.has_value());
    if (!parsed) return;
    FUZZ_CHECK(value == *expected);
    int again = 0;
    FUZZ_CHECK(parse_int_operand(std::to_string(value).c_str(), again) && again == value);
}

}  // namespace
}  // namespace korvane::connector

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    korvane::connector::check_operand(korvane::connector::fuzz_text(data, size));
    return 0;
}
