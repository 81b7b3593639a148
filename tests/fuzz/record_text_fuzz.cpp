// Record files are read back from disk, where anything may have been written: every line that
// holds "=" must give exactly one entry, and what is written from entries must read back the same.
// A value echoed through printable() must stay on its own line, and the writer refuses any key or
// value holding CR, LF or NUL rather than write lines the value chose.

#include <optional>

#include "connector/state/record_text.h"
#include "connector/toolkit/text.h"
#include "tests/fuzz/fuzz_support.h"

namespace korvane::connector {
namespace {

// Counts the "\n"-separated lines of `text` that, without one trailing CR, contain "=" and no
// CR or NUL.
size_t lines_with_equals(std::string_view text) {
    size_t count = 0;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const bool clean =
            line.find('\r') == std::string_view::npos && line.find('\0') == std::string_view::npos;
        if (clean && line.find('=') != std::string_view::npos) ++count;
        start = end + 1;
    }
    return count;
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
    // Entries read from a file hold no CR, LF or NUL, so they can always be written back.
    const std::optional<std::string> written = format_record_text(entries);
    FUZZ_CHECK(written.has_value());
    FUZZ_CHECK(parse_record_text(*written) == entries);
}

// The whole input as one value: written only when it holds no CR, LF or NUL, and then read back
// as exactly one entry.
void check_write(std::string_view text) {
    const std::string value(text);
    const std::optional<std::string> written = format_record_text({{"k", value}});
    FUZZ_CHECK(written.has_value() ==
               (value.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos));
    if (!written) return;
    const std::vector<RecordEntry> read = parse_record_text(*written);
    FUZZ_CHECK(read.size() == 1 && read[0].first == "k" && read[0].second == value);
}

void check_printable(std::string_view text) {
    const std::string shown = printable(text);
    FUZZ_CHECK(shown.size() == text.size());
    for (size_t i = 0; i < shown.size(); ++i) {
        const auto c = static_cast<unsigned char>(shown[i]);
        FUZZ_CHECK(c >= 0x20 && c != 0x7F);
        FUZZ_CHECK(shown[i] == text[i] || shown[i] == '?');
    }
    const std::vector<RecordEntry> echoed =
        parse_record_text(format_record_text({{"reason", shown}}).value());
    FUZZ_CHECK(echoed.size() == 1 && echoed[0].first == "reason" && echoed[0].second == shown);
}

}  // namespace
}  // namespace korvane::connector

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text = korvane::connector::fuzz_text(data, size);
    korvane::connector::check_parse(text);
    korvane::connector::check_write(text);
    korvane::connector::check_printable(text);
    return 0;
}
