#define __STDC_WANT_LIB_EXT1__ 1
#include <string.h>

#include "connector/toolkit/secure_wipe.h"

namespace korvane::connector {

void secure_wipe(std::string& text) {
    text.resize(text.capacity());
    ::memset_s(text.data(), text.size(), 0, text.size());
    text.clear();
}

}  // namespace korvane::connector
