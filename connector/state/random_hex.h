#pragma once

#include <cstddef>
#include <string>

namespace korvane::connector {

// Returns `count` characters drawn uniformly from "0123456789abcdef".
std::string random_hex(size_t count);

}  // namespace korvane::connector
