#pragma once

#include <string>

#include "connector/toolkit/http_client.h"

namespace korvane::connector {

// What one update step found; the command layer writes it out.
struct UpdateOutcome {
    enum class Kind {
        refused,         // `reason`, with the members that name what was refused
        checked,         // check: the manifest was read
        already_latest,  // download: the manifest's version is not newer; nothing fetched
        downloaded,      // download: `downloaded_to` and its copy `latest_file` hold the image
        opened,          // apply: `file` was handed to the desktop
    };
    Kind kind = Kind::refused;
    std::string reason;
    std::string manifest_url;
    std::string manifest_text;  // as fetched: checked, and refused with "manifest_invalid"
    std::string current_version;
    std::string latest_version;
    std::string channel;
    std::string dmg_url;
    bool update_available = false;
    bool signed_updates = false;  // checked: images must carry the publisher's signature
    std::string downloaded_to;
    std::string latest_file;
    std::string file;         // apply: the image chosen
    std::string updates_dir;  // refused with "update_file_missing"
};

// Self-update from a published manifest: check, download the disk image, open it.
class Updater {
  public:
    // Keeps the values and creates the updates folder under `app_root`; `http` must outlive it.
    // `update_public_key`, the publisher's Ed25519 key as Base64, makes every image need the
    // manifest's "ed25519" signature, at download and again before it is opened; empty accepts
    // unsigned images. A key that does not decode refuses every image.
    Updater(std::string app_root, std::string manifest_url, std::string current_version, HttpClient& http,
            const std::string& update_public_key = "");

    // Returns true when images must carry the publisher's signature (a key was built in).
    bool signed_updates() const { return signed_only_; }

    // Returns whether the manifest names a newer version.
    UpdateOutcome check() const;
    // Downloads the newer image into the updates folder (and the latest-image copy).
    // With a key, each image keeps its signature beside it in a ".sig" file.
    UpdateOutcome download() const;
    // Hands the latest downloaded image (else the newest by version) to the desktop as a private
    // copy of the bytes checked; with a key, only when they match the signature kept beside it
    // and its signed version is newer than the running one.
    UpdateOutcome apply() const;

  private:
    std::string updates_dir() const;
    // Returns the manifest's text; empty when it could not be fetched.
    std::string fetch_manifest() const;

    std::string app_root_;
    std::string manifest_url_;
    std::string current_version_;
    HttpClient& http_;
    bool signed_only_ = false;  // a key was built in
    std::string public_key_;    // its 32 bytes; empty when it did not decode
};

}  // namespace korvane::connector
