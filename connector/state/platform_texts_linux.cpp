#include "connector/state/platform_texts.h"

namespace korvane::connector {

PlatformTexts host_platform_texts() {
    return linux_platform_texts();
}

bool host_is_macos() {
    return false;
}

}  // namespace korvane::connector
