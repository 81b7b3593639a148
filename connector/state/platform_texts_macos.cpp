#include "connector/state/platform_texts.h"

namespace korvane::connector {

PlatformTexts host_platform_texts() {
    return macos_platform_texts();
}

bool host_is_macos() {
    return true;
}

}  // namespace korvane::connector
