#include "connector/toolkit/secure_wipe.h"

#include <sodium.h>

namespace korvane::connector {

void secure_wipe(std::string& text) {
    text.resize(text.capacity());
    // libsodium's wipe is one the compiler may not drop, on every platform.
    sodium_memzero(text.data(), text.size());
    text.clear();
}

}  // namespace korvane::connector
