#include "connector/state/record_text.h"

namespace korvane::connector {

std::vector<RecordEntry> parse_record_text(std::string_view text) {
    std::vector<RecordEntry> entries;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = text.substr(start, end - start);
        const size_t equals = line.find('=');
        if (equals != std::string_view::npos) {
            entries.emplace_back(std::string(line.substr(0, equals)), std::string(line.substr(equals + 1)));
        }
        start = end + 1;
    }
    return entries;
}

std::string format_record_text(const std::vector<RecordEntry>& entries) {
    std::string text;
    for (const auto& [key, value] : entries) text += key + "=" + value + "\n";
    return text;
}

}  // namespace korvane::connector
