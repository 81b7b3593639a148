// Probe reports quote whatever an exchange answered: probe_string must give plain ASCII JSON
// that reads back as the same text json_string gives (bad UTF-8 as U+FFFD in both), and a report
// must be a JSON array of objects. Input: three lines, the report's values; the whole input is
// also one string.

#include "connector/exchanges/probe_output.h"
#include "connector/toolkit/json.h"
#include "tests/fuzz/fuzz_support.h"

namespace korvane::connector {
namespace {

void check_string(std::string_view text) {
    const std::string quoted = probe_string(text);
    FUZZ_CHECK(quoted.size() >= 2 && quoted.front() == '"' && quoted.back() == '"');
    for (char c : quoted) {
        const auto byte = static_cast<unsigned char>(c);
        FUZZ_CHECK(byte >= 0x20 && byte <= 0x7F);
    }
    const std::optional<Json> probe = parse_json(quoted);
    FUZZ_CHECK(probe.has_value() && probe->is_string());
    // Two separate UTF-8 readers must agree on every byte string.
    const std::optional<Json> plain = parse_json(json_string(text));
    FUZZ_CHECK(plain.has_value() && *plain == *probe);
}

void check_report(const std::vector<std::string>& values) {
    ProbeReport report;
    report.add({{"endpoint", values[0]}, {"status", values[1]}});
    report.add({{"body", values[2]}});
    const std::optional<Json> parsed = parse_json(report.str());
    FUZZ_CHECK(parsed.has_value() && parsed->is_array() && parsed->size() == 2);
    FUZZ_CHECK(parsed->at(0).size() == 2 && parsed->at(1).size() == 1);
    FUZZ_CHECK(parsed->at(1).at("body") == *parse_json(probe_string(values[2])));
}

}  // namespace
}  // namespace korvane::connector

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text = korvane::connector::fuzz_text(data, size);
    korvane::connector::check_string(text);
    korvane::connector::check_report(korvane::connector::fuzz_pieces(text, 3));
    return 0;
}
