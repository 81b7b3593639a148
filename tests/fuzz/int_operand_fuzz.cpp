// Number operands come from the command line: the parser must agree with a plain reading
// (decimal digits and nothing else) and refuse what does not fit in 32 bits.

#include <climits>
#include <optional>
#include <string>

#include "connector/app/command_dispatcher.h"
#include "tests/fuzz/fuzz_support.h"

namespace korvane::connector {
namespace {

// Returns the number `text` spells when it is digits only; empty otherwise or past 32 bits.
std::optional<int> plain_reading(const std::string& text) {
    if (text.empty()) return std::nullopt;
    long long value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > INT_MAX) return std::nullopt;
    }
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
