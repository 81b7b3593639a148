#pragma once

#include <string>

#include "connector/state/platform_texts.h"

namespace korvane::connector {

// Who this installation is.
struct DeviceIdentity {
    std::string device_id;              // "device:<platform>:" + 12 hex digits; the relay's connector id
    std::string connector_instance_id;  // "connector:" + 16 hex digits
    std::string device_label;
    std::string platform;
    std::string owner_wallet;
    bool paired = false;
};

// Reads and writes "device_identity.env" in the application root.
class DeviceIdentityStore {
  public:
    // `texts` name the platform in new identities and replace another platform's texts.
    explicit DeviceIdentityStore(std::string app_root, PlatformTexts texts = host_platform_texts());

    // Returns the stored identity, or a freshly generated one when the file holds no device id.
    // A platform word or label that is exactly another platform's is replaced by this one's; the
    // ids are kept. Always rewrites the file in normal form; `saved`, when given, tells whether
    // that worked.
    DeviceIdentity load_or_create(bool* saved = nullptr) const;

    // Replaces the file with `identity`; returns false when it could not be written.
    bool save(const DeviceIdentity& identity) const;

    // Returns the path of "device_identity.env".
    std::string identity_path() const;

  private:
    std::string root_;
    PlatformTexts texts_;
};

}  // namespace korvane::connector
