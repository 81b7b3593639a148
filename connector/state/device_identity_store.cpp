#include "connector/state/device_identity_store.h"

#include <sys/stat.h>

#include "connector/state/files.h"
#include "connector/state/random_hex.h"
#include "connector/state/record_text.h"

namespace korvane::connector {
namespace {

DeviceIdentity fresh_identity(const PlatformTexts& texts) {
    DeviceIdentity identity;
    identity.device_id = texts.device_id_prefix + random_hex(12);
    identity.connector_instance_id = "connector:" + random_hex(16);
    identity.device_label = texts.device_label;
    identity.platform = texts.platform;
    return identity;
}

// An identity carried over from the other platform (an older build that called every machine a
// Mac, a copied home folder) says what this machine is not. Only the generated texts are
// replaced: an empty or hand-written value stays, and so do the ids the relay knows.
void correct_platform_texts(DeviceIdentity& identity, const PlatformTexts& texts) {
    for (const PlatformTexts& other : {macos_platform_texts(), linux_platform_texts()}) {
        if (other.platform == texts.platform) continue;
        if (identity.platform == other.platform) identity.platform = texts.platform;
        if (identity.device_label == other.device_label) identity.device_label = texts.device_label;
    }
}

}  // namespace

DeviceIdentityStore::DeviceIdentityStore(std::string app_root, PlatformTexts texts)
    : root_(std::move(app_root)), texts_(std::move(texts)) {}

std::string DeviceIdentityStore::identity_path() const {
    return root_ + "/device_identity.env";
}

DeviceIdentity DeviceIdentityStore::load_or_create(bool* saved) const {
    make_private_directory(root_);
    DeviceIdentity identity;
    for (const auto& [key, value] : parse_record_text(read_file(identity_path()))) {
        if (key == "device_id")
            identity.device_id = value;
        else if (key == "connector_instance_id")
            identity.connector_instance_id = value;
        else if (key == "device_label")
            identity.device_label = value;
        else if (key == "platform")
            identity.platform = value;
        else if (key == "owner_wallet")
            identity.owner_wallet = value;
        else if (key == "paired")
            identity.paired = value == "1";
    }
    // Without a device id nothing else read is trusted; with one, nothing is filled in.
    if (identity.device_id.empty()) identity = fresh_identity(texts_);
    correct_platform_texts(identity, texts_);
    const bool written = save(identity);
    if (saved != nullptr) *saved = written;
    return identity;
}

bool DeviceIdentityStore::save(const DeviceIdentity& identity) const {
    make_private_directory(root_);
    const std::optional<std::string> text = format_record_text({
        {"device_id", identity.device_id},
        {"connector_instance_id", identity.connector_instance_id},
        {"device_label", identity.device_label},
        {"platform", identity.platform},
        {"owner_wallet", identity.owner_wallet},
        {"paired", identity.paired ? "1" : "0"},
    });
    // Start-up saves on every run; a file that already holds these bytes needs no new copy.
    if (!text) return false;
    // (An older build wrote it readable by all; the mode is mended either way.)
    if (read_file(identity_path()) == *text) {
        struct stat info {};
        if (::stat(identity_path().c_str(), &info) == 0 && (info.st_mode & 0777) == 0600) return true;
        return ::chmod(identity_path().c_str(), 0600) == 0;
    }
    return write_file_atomic(identity_path(), *text, 0600);
}

}  // namespace korvane::connector
