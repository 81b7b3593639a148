#include "connector/state/platform_texts.h"

namespace korvane::connector {

PlatformTexts macos_platform_texts() {
    // A keychain tool on macOS stands in for the system's own `security` tool, so the name stays.
    return {"macos", "device:macos:", "Korvane Connector (macOS)", "macOS connector",
            "macos_keychain_with_file_fallback"};
}

PlatformTexts linux_platform_texts() {
    return {"linux", "device:linux:", "Korvane Connector (Linux)", "Linux connector",
            "keychain_tool_with_file_fallback"};
}

}  // namespace korvane::connector
