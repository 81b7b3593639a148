#pragma once

#include <string>

namespace korvane::connector {

// Overwrites every byte `text` holds (its whole capacity) with zeros in a way the compiler may
// not drop, then empties it; for buffers that held a secret.
void secure_wipe(std::string& text);

}  // namespace korvane::connector
