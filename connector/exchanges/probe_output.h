#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

#include "connector/toolkit/http_client.h"

namespace korvane::connector {

// The credential checks that try several sites or paths report every attempt as one JSON array
// of objects, written the way Python's json.dumps writes it (", " and ": " between items, every
// character outside ASCII as \uXXXX); the rejection reasons carry that text.

// Returns `text` as such a JSON string; bytes that are not UTF-8 read as U+FFFD.
std::string probe_string(std::string_view text);

// Collects the attempts' objects and returns them as one array.
class ProbeReport {
  public:
    // Appends one object whose members are the given names and string values, in order.
    void add(std::initializer_list<std::pair<const char*, std::string>> members);
    // Returns "[{...}, {...}]".
    std::string str() const { return "[" + text_ + "]"; }

  private:
    std::string text_;
};

// Returns what a check saw of one reply: the body; when there is none, the transport's failure
// text, or "HTTP Error N" for an error status without a body.
std::string probe_body(const HttpResult& reply);

}  // namespace korvane::connector
