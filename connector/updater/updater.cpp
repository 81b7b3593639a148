#include "connector/updater/updater.h"

#include <unistd.h>
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "connector/state/files.h"
#include "connector/state/random_hex.h"
#include "connector/toolkit/digest.h"
#include "connector/toolkit/sha2.h"
#include "connector/toolkit/shell.h"
#include "connector/toolkit/text.h"
#include "connector/updater/version.h"

namespace korvane::connector {
namespace {

namespace fs = std::filesystem;

std::string updates_dir_for(const std::string& app_root) {
    return app_root + "/updates";
}

std::string latest_download_target(const std::string& updates_dir, const std::string& version) {
    return updates_dir + "/Korvane-Connector-" + (version.empty() ? "unknown" : version) + ".dmg";
}

std::string latest_symlink_target(const std::string& updates_dir) {
    return updates_dir + "/Korvane-Connector-latest.dmg";
}

// Returns the manifest text; empty when it could not be fetched.
std::string fetch_manifest(const std::string& manifest_url) {
    const CommandOutput run = run_command("curl -sS --fail --max-time 20 " + shell_escape(manifest_url));
    return run.exit_code == 0 ? run.output : "";
}

std::string manifest_invalid(const std::string& manifest_url, const std::string& manifest) {
    return "{\"status\":\"error\",\"reason\":\"manifest_invalid\",\"manifest_url\":\"" +
           json_escape(manifest_url) + "\",\"manifest\":" + manifest + "}";
}

// A name that never ends in ".dmg", so an unfinished file is never taken for an image.
std::string partial_name(const std::string& target) {
    return target + ".partial-" + random_hex(8);
}

std::string lowercase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

bool is_executable_on_path(const std::string& tool) {
    const char* path = std::getenv("PATH");
    if (path == nullptr) return false;
    const std::string dirs = path;
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t colon = dirs.find(':', start);
        if (colon == std::string::npos) colon = dirs.size();
        const std::string dir = colon > start ? dirs.substr(start, colon - start) : ".";
        if (::access((dir + "/" + tool).c_str(), X_OK) == 0) return true;
        start = colon + 1;
    }
    return false;
}

// macOS hands an image to the desktop with `open`; Linux desktops offer `xdg-open`.
std::string opener() {
    if (!is_executable_on_path("open") && is_executable_on_path("xdg-open")) return "xdg-open";
    return "open";
}

// Copies `from` over `to` through a temporary file, so `to` is whole or untouched.
void copy_atomically(const std::string& from, const std::string& to) {
    const std::string temporary = partial_name(to);
    std::error_code error;
    fs::copy_file(from, temporary, fs::copy_options::overwrite_existing, error);
    if (error) {
        fs::remove(temporary, error);
        return;
    }
    fs::rename(temporary, to, error);
    if (error) fs::remove(temporary, error);
}

}  // namespace

Updater::Updater(std::string app_root, std::string manifest_url, std::string current_version)
    : app_root_(std::move(app_root)),
      manifest_url_(std::move(manifest_url)),
      current_version_(std::move(current_version)) {
    std::error_code error;
    fs::create_directories(updates_dir(), error);
}

std::string Updater::updates_dir() const {
    return updates_dir_for(app_root_);
}

std::string Updater::check() const {
    const std::string manifest = fetch_manifest(manifest_url_);
    if (manifest.empty()) {
        return "{\"status\":\"error\",\"reason\":\"update_check_failed\",\"manifest_url\":\"" +
               json_escape(manifest_url_) + "\"}";
    }
    const std::string version = extract_json_string(manifest, "version");
    const std::string dmg_url = extract_json_string(manifest, "dmgUrl");
    const std::string channel = extract_json_string(manifest, "channel");
    if (version.empty() || dmg_url.empty()) return manifest_invalid(manifest_url_, manifest);
    const bool available = compare_versions(current_version_, version) == -1;
    return "{\"status\":\"ok\",\"current_version\":\"" + json_escape(current_version_) +
           "\",\"latest_version\":\"" + json_escape(version) +
           "\",\"update_available\":" + (available ? "true" : "false") + ",\"channel\":\"" +
           json_escape(channel) + "\",\"manifest_url\":\"" + json_escape(manifest_url_) +
           "\",\"dmg_url\":\"" + json_escape(dmg_url) + "\",\"manifest\":" + manifest + "}";
}

std::string Updater::download() const {
    const std::string manifest = fetch_manifest(manifest_url_);
    if (manifest.empty()) {
        return "{\"status\":\"error\",\"reason\":\"manifest_fetch_failed\",\"manifest_url\":\"" +
               json_escape(manifest_url_) + "\"}";
    }
    const std::string version = extract_json_string(manifest, "version");
    const std::string dmg_url = extract_json_string(manifest, "dmgUrl");
    if (version.empty() || dmg_url.empty()) return manifest_invalid(manifest_url_, manifest);
    if (compare_versions(current_version_, version) != -1) {
        return "{\"status\":\"ok\",\"current_version\":\"" + json_escape(current_version_) +
               "\",\"latest_version\":\"" + json_escape(version) +
               "\",\"update_available\":false,\"note\":\"already_on_latest_version\"}";
    }
    const std::string failed_tail = "\",\"latest_version\":\"" + json_escape(version) + "\",\"dmg_url\":\"" +
                                    json_escape(dmg_url) + "\"}";
    const std::string target = latest_download_target(updates_dir(), version);
    // The image lands under a temporary name and takes its real name only once it is whole
    // (and matches the published checksum), so "update-apply" never opens a partial file.
    const std::string temporary = partial_name(target);
    std::error_code error;
    const CommandOutput fetched = run_command("curl -sS --fail --max-time 300 -L " + shell_escape(dmg_url) +
                                              " -o " + shell_escape(temporary));
    if (fetched.exit_code != 0) {
        fs::remove(temporary, error);
        return "{\"status\":\"error\",\"reason\":\"update_download_failed" + failed_tail;
    }
    const std::string expected = extract_json_string(manifest, "sha256");
    if (!expected.empty() && lowercase(expected) != hex_encode(sha256_raw(read_file(temporary)))) {
        fs::remove(temporary, error);
        return "{\"status\":\"error\",\"reason\":\"update_checksum_mismatch" + failed_tail;
    }
    fs::rename(temporary, target, error);
    if (error) {
        fs::remove(temporary, error);
        return "{\"status\":\"error\",\"reason\":\"update_download_failed" + failed_tail;
    }
    const std::string latest = latest_symlink_target(updates_dir());
    copy_atomically(target, latest);
    return "{\"status\":\"ok\",\"current_version\":\"" + json_escape(current_version_) +
           "\",\"latest_version\":\"" + json_escape(version) +
           "\",\"update_available\":true,\"downloaded\":true,\"downloaded_to\":\"" + json_escape(target) +
           "\",\"latest_file\":\"" + json_escape(latest) + "\",\"dmg_url\":\"" + json_escape(dmg_url) + "\"}";
}

std::string Updater::apply() const {
    std::string candidate = latest_symlink_target(updates_dir());
    std::error_code error;
    if (!fs::exists(candidate, error)) {
        // Sorted so the choice among several images does not depend on the file system.
        std::vector<std::string> images;
        for (const auto& entry : fs::directory_iterator(updates_dir(), error)) {
            if (entry.is_regular_file(error) && entry.path().extension() == ".dmg") {
                images.push_back(entry.path().string());
            }
        }
        std::sort(images.begin(), images.end());
        if (!images.empty()) candidate = images.front();
    }
    if (!fs::exists(candidate, error)) {
        return "{\"status\":\"error\",\"reason\":\"update_file_missing\",\"updates_dir\":\"" +
               json_escape(updates_dir()) + "\"}";
    }
    if (run_command(opener() + " " + shell_escape(candidate)).exit_code != 0) {
        return "{\"status\":\"error\",\"reason\":\"open_dmg_failed\",\"file\":\"" + json_escape(candidate) +
               "\"}";
    }
    return "{\"status\":\"ok\",\"applied\":false,\"install_flow_started\":true,\"file\":\"" +
           json_escape(candidate) + "\",\"note\":\"dmg_opened_drag_updated_app_into_Applications\"}";
}

}  // namespace korvane::connector
