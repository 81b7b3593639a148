// Record files are read back from disk, where anything may have been written: every line that
// holds "=" must give exactly one entry, and what is written from entries must read back the same.
// A value echoed through printable() must stay on its own line.

#include "connector/state/record_text.h"
#include "connector/toolkit/text.h"
#include "tests/fuzz/fuzz_support.h"

namespace korvane::connector {
namespace {

// Counts the "\n"-separated lines of `text` that contain "=".
size_t lines_with_equals(std::string_view text) {
    size_t count = 0;
    bool seen = false;
    for (char c : text) {
        if (c == '\n') {
            count += seen ? 1 : 0;
            seen = false;
        } else if (c == '=') {
            seen = true;
        }
    }
    return count + (seen ? 1 : 0);
}

void check_parse(std::string_view text) {
    const std::vector<RecordEntry> entries = parse_record_text(text);
    FUZZ_CHECK(entries.size() == lines_with_equals(text));
    size_t consumed = 0;
    for (const auto& [key, value] : entries) {
        FUZZ_CHECK(key.find_first_of("=\n") == std::string::npos);
        FUZZ_CHECK(value.find('\n') == std::string::npos);
        // Each entry is a line of the input, in order.
        const size_t at = text.find(key + "=" + value, consumed);
        FUZZ_CHECK(at != std::string_view::npos);
        consumed = at + key.size() + 1 + value.size();
    }
    FUZZ_CHECK(parse_record_text(format_record_text(entries)) == entries);
}

void check_printable(std::string_view text) {
    const std::string shown = printable(text);
    FUZZ_CHECK(shown.size() == text.size());
    for (size_t i = 0; i < shown.size(); ++i) {
        const auto c = static_cast<unsigned char>(shown[i]);
        FUZZ_CHECK(c >= 0x20 && c != 0x7F);
        FUZZ_CHECK(shown[i] == text[i] || shown[i] == '?');
    }
    const std::vector<RecordEntry> echoed = parse_record_text(format_record_text({{"reason", shown}}));
    FUZZ_CHECK(echoed.size() == 1 && echoed[0].first == "reason" && echoed[0].second == shown);
}

}  // namespace
}  // namespace korvane::connector

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text = korvane::connector::fuzz_text(data, size);
    korvane::connector::check_parse(text);
    korvane::connector::check_printable(text);
    return 0;
}
