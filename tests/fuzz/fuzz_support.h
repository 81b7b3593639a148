#pragma once

// Shared by the fuzz targets: property checks that stop the run, and input splitting.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace korvane::connector {

// Reports the broken property and aborts, so libFuzzer keeps the input as a crash and a corpus
// replay fails.
[[noreturn]] inline void fuzz_property_broken(const char* property, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: property broken: %s\n", file, line, property);
    std::abort();
}

// Returns the fuzz input as text.
inline std::string_view fuzz_text(const uint8_t* data, size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// Returns `count` pieces of `text` split at line feeds; the last piece keeps the rest (line feeds
// included), and missing pieces are empty. Seeds stay readable: one operand a line.
inline std::vector<std::string> fuzz_pieces(std::string_view text, size_t count) {
    std::vector<std::string> pieces;
    while (pieces.size() + 1 < count) {
        const size_t end = text.find('\n');
        if (end == std::string_view::npos) break;
        pieces.emplace_back(text.substr(0, end));
        text.remove_prefix(end + 1);
    }
    pieces.emplace_back(text);
    pieces.resize(count);
    return pieces;
}

}  // namespace korvane::connector

#define FUZZ_CHECK(condition)           \
    ((condition) ? static_cast<void>(0) \
                 : ::korvane::connector::fuzz_property_broken(#condition, __FILE__, __LINE__))
