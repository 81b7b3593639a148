#pragma once

#include <string>

namespace korvane::connector {

// The words this installation uses to name its platform: in the device identity, to the relay
// and in "status".
struct PlatformTexts {
    std::string platform;           // "platform=" in the identity file, e.g. "linux"
    std::string device_id_prefix;   // a new device id is this followed by 12 hex digits
    std::string device_label;       // the label of a new identity
    std::string relay_label;        // the connector label sent with "bind-wallet"
    std::string tool_backend_name;  // the vault backend name when a keychain tool is named
};

// Returns the macOS texts.
PlatformTexts macos_platform_texts();

// Returns the Linux texts.
PlatformTexts linux_platform_texts();

// Returns the texts of the platform this program was built for.
PlatformTexts host_platform_texts();

// Returns true when this program was built for macOS.
bool host_is_macos();

}  // namespace korvane::connector
