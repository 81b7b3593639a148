#pragma once

#include <string>

#include "connector/toolkit/http_client.h"

namespace korvane::connector {

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

    // Returns whether the manifest names a newer version, as JSON, with "signed_updates".
    std::string check() const;
    // Downloads the newer image into the updates folder (and the latest-image copy), as JSON.
    // With a key, each image keeps its signature beside it in a ".sig" file.
    std::string download() const;
    // Opens the latest downloaded image for the user, as JSON; with a key, only when the image
    // still matches the signature kept beside it.
    std::string apply() const;

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
