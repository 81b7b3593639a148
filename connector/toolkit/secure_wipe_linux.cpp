#include <string.h>

#include "connector/toolkit/secure_wipe.h"

namespace korvane::connector {

void secure_wipe(std::string& text) {
    text.resize(text.capacity());
    ::explicit_bzero(text.data(), text.size());
    text.clear();
}

}  // namespace korvane::connector
