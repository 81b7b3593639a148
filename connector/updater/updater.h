#pragma once

#include <string>

#include "connector/toolkit/http_client.h"

namespace korvane::connector {

// Self-update from a published manifest: check, download the disk image, open it.
class Updater {
  public:
    // Keeps the values and creates the updates folder under `app_root`; `http` must outlive it.
    Updater(std::string app_root, std::string manifest_url, std::string current_version, HttpClient& http);

    // Returns whether the manifest names a newer version, as JSON.
    std::string check() const;
    // Downloads the newer image into the updates folder (and the latest-image copy), as JSON.
    std::string download() const;
    // Opens the latest downloaded image for the user, as JSON.
    std::string apply() const;

  private:
    std::string updates_dir() const;
    // Returns the manifest's text; empty when it could not be fetched.
    std::string fetch_manifest() const;

    std::string app_root_;
    std::string manifest_url_;
    std::string current_version_;
    HttpClient& http_;
};

}  // namespace korvane::connector
