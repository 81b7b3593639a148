#include "connector/state/record_text.h"

namespace korvane::connector {

std::vector<RecordEntry> parse_record_text(std::string_view text) {
    std::vector<RecordEntry> entries;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        // A file saved with CRLF line ends reads as the same entries; a line that still holds a
        // CR or NUL is no entry (no writer of ours made it, and none could write it back).
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const size_t equals = line.find('=');
        if (equals != std::string_view::npos && fits_record_line(line)) {
            entries.emplace_back(std::string(line.substr(0, equals)), std::string(line.substr(equals + 1)));
        }
        start = end + 1;
    }
    return entries;
}

bool fits_record_line(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

std::optional<std::string> format_record_text(const std::vector<RecordEntry>& entries) {
    std::string text;
    for (const auto& [key, value] : entries) {
        if (!fits_record_line(key) || !fits_record_line(value)) return std::nullopt;
        text += key + "=" + value + "\n";
    }
    return text;
}

}  // namespace korvane::connector
