#include "connector/updater/updater.h"

#include <unistd.h>
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "connector/state/files.h"
#include "connector/state/random_hex.h"
#include "connector/toolkit/digest.h"
#include "connector/toolkit/json.h"
#include "connector/toolkit/mapped_file.h"
#include "connector/toolkit/run_program.h"
#include "connector/updater/update_rules.h"
#include "connector/updater/update_signature.h"
#include "connector/updater/version.h"

namespace korvane::connector {
namespace {

namespace fs = std::filesystem;

constexpr long kManifestLimitMs = 20000;
constexpr long kDownloadLimitMs = 300000;

std::string updates_dir_for(const std::string& app_root) {
    return app_root + "/updates";
}

std::string latest_download_target(const std::string& updates_dir, const std::string& version) {
    return updates_dir + "/Korvane-Connector-" + (version.empty() ? "unknown" : version) + ".dmg";
}

std::string latest_symlink_target(const std::string& updates_dir) {
    return updates_dir + "/Korvane-Connector-latest.dmg";
}

// The members an update is read from; all empty when the manifest is not JSON.
struct Manifest {
    std::string text;  // as fetched
    std::string version;
    std::string dmg_url;
    std::string channel;
    std::string sha256;
    std::string ed25519;  // Base64 signature of the image's bytes
};

Manifest read_manifest(const std::string& text) {
    Manifest manifest;
    manifest.text = text;
    if (const auto value = parse_json(text)) {
        manifest.version = find_string_member(*value, "version");
        manifest.dmg_url = find_string_member(*value, "dmgUrl");
        manifest.channel = find_string_member(*value, "channel");
        manifest.sha256 = find_string_member(*value, "sha256");
        manifest.ed25519 = find_string_member(*value, "ed25519");
    }
    return manifest;
}

// The manifest as an answer's member: nested as it came when it is JSON, else as a string, so
// the answer is JSON either way.
std::string manifest_member(const std::string& text) {
    return is_json_value(text) ? text : json_string(text);
}

// Returns the refusal answer for a manifest that cannot be acted on; empty when it can.
std::string manifest_refusal(const std::string& manifest_url, const Manifest& manifest) {
    if (manifest.version.empty() || manifest.dmg_url.empty()) {
        return JsonObject()
            .add("status", "error")
            .add("reason", "manifest_invalid")
            .add("manifest_url", manifest_url)
            .add_raw("manifest", manifest_member(manifest.text))
            .str();
    }
    // The version becomes part of a file name, and the URL is handed to the network stack.
    if (!is_safe_version(manifest.version)) {
        return JsonObject()
            .add("status", "error")
            .add("reason", "update_manifest_invalid")
            .add("manifest_url", manifest_url)
            .str();
    }
    if (!is_allowed_image_url(manifest.dmg_url)) {
        return JsonObject()
            .add("status", "error")
            .add("reason", "update_url_rejected")
            .add("latest_version", manifest.version)
            .add("dmg_url", manifest.dmg_url)
            .str();
    }
    return "";
}

std::string download_failure(const char* reason, const Manifest& manifest) {
    return JsonObject()
        .add("status", "error")
        .add("reason", reason)
        .add("latest_version", manifest.version)
        .add("dmg_url", manifest.dmg_url)
        .str();
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

// The program and arguments that hand `image` (an absolute path) to the desktop: macOS `open`,
// or `xdg-open` on a Linux desktop. The path starts with "/", so neither can read it as an
// option; `open` also gets "--" (Debian's xdg-open refuses "--").
std::vector<std::string> open_command(const std::string& image) {
    if (!is_executable_on_path("open") && is_executable_on_path("xdg-open")) return {"xdg-open", image};
    return {"open", "--", image};
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

// The image's signature is kept beside it, so "update-apply" can check the image again
// without the network (and after the manifest has moved on to another version).
std::string signature_path(const std::string& image) {
    return image + ".sig";
}

// Returns the signature text kept beside `image`; empty when there is none or the file is far
// longer than a signature could be.
std::string read_kept_signature(const std::string& image) {
    std::ifstream in(signature_path(image), std::ios::binary);
    char buffer[256];
    in.read(buffer, sizeof buffer);
    std::string text(buffer, static_cast<size_t>(in.gcount()));
    if (text.size() == sizeof buffer) return "";
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

// Returns true when the file's SHA-256 is `expected` (hex, either case).
bool matches_checksum(const std::string& path, const std::string& expected) {
    const MappedFile image(path);
    return image.ok() && lowercase(expected) == sha256_hex(image.bytes());
}

}  // namespace

Updater::Updater(std::string app_root, std::string manifest_url, std::string current_version,
                 HttpClient& http, const std::string& update_public_key)
    : app_root_(std::move(app_root)),
      manifest_url_(std::move(manifest_url)),
      current_version_(std::move(current_version)),
      http_(http),
      signed_only_(!update_public_key.empty()),
      public_key_(decode_update_public_key(update_public_key).value_or("")) {
    std::error_code error;
    fs::create_directories(updates_dir(), error);
}

std::string Updater::updates_dir() const {
    return updates_dir_for(app_root_);
}

std::string Updater::fetch_manifest() const {
    HttpRequest request;
    request.url = manifest_url_;
    request.timeout_ms = kManifestLimitMs;
    request.max_reply_bytes = kMaxManifestBytes;
    request.fail_on_http_error = true;
    const HttpResult reply = http_.send(request);
    return reply.exit_code == 0 ? reply.body : "";
}

std::string Updater::check() const {
    const std::string text = fetch_manifest();
    if (text.empty()) {
        return JsonObject()
            .add("status", "error")
            .add("reason", "update_check_failed")
            .add("manifest_url", manifest_url_)
            .str();
    }
    const Manifest manifest = read_manifest(text);
    if (const std::string refusal = manifest_refusal(manifest_url_, manifest); !refusal.empty()) return refusal;
    return JsonObject()
        .add("status", "ok")
        .add("current_version", current_version_)
        .add("latest_version", manifest.version)
        .add("update_available", compare_versions(current_version_, manifest.version) == -1)
        .add("channel", manifest.channel)
        .add("manifest_url", manifest_url_)
        .add("dmg_url", manifest.dmg_url)
        .add_raw("manifest", manifest_member(manifest.text))
        .str();
}

std::string Updater::download() const {
    const std::string text = fetch_manifest();
    if (text.empty()) {
        return JsonObject()
            .add("status", "error")
            .add("reason", "manifest_fetch_failed")
            .add("manifest_url", manifest_url_)
            .str();
    }
    const Manifest manifest = read_manifest(text);
    if (const std::string refusal = manifest_refusal(manifest_url_, manifest); !refusal.empty()) return refusal;
    if (compare_versions(current_version_, manifest.version) != -1) {
        return JsonObject()
            .add("status", "ok")
            .add("current_version", current_version_)
            .add("latest_version", manifest.version)
            .add("update_available", false)
            .add("note", "already_on_latest_version")
            .str();
    }
    // An unsigned image could never be installed; do not fetch it.
    if (signed_only_ && manifest.ed25519.empty()) {
        return download_failure("update_signature_invalid", manifest);
    }
    const std::string target = latest_download_target(updates_dir(), manifest.version);
    // The image lands under a temporary name and takes its real name only once it is whole
    // (and matches the published checksum), so "update-apply" never opens a partial file.
    const std::string temporary = partial_name(target);
    HttpRequest request;
    request.url = manifest.dmg_url;
    request.timeout_ms = kDownloadLimitMs;
    request.max_reply_bytes = kMaxImageBytes;
    request.fail_on_http_error = true;
    request.follow_redirects = true;
    request.output_path = temporary;
    std::error_code error;
    if (http_.send(request).exit_code != 0) {
        fs::remove(temporary, error);
        return download_failure("update_download_failed", manifest);
    }
    if (!manifest.sha256.empty() && !matches_checksum(temporary, manifest.sha256)) {
        fs::remove(temporary, error);
        return download_failure("update_checksum_mismatch", manifest);
    }
    // Checked under the temporary name: an image the publisher did not sign never gets a name
    // "update-apply" would open.
    if (signed_only_ && !verify_file_signature(temporary, manifest.ed25519, public_key_)) {
        fs::remove(temporary, error);
        return download_failure("update_signature_invalid", manifest);
    }
    // The signature lands first, so the image never has its real name without it.
    if (signed_only_ && !write_file_atomic(signature_path(target), manifest.ed25519 + "\n", 0644)) {
        fs::remove(temporary, error);
        return download_failure("update_download_failed", manifest);
    }
    fs::rename(temporary, target, error);
    if (error) {
        fs::remove(temporary, error);
        if (signed_only_) fs::remove(signature_path(target), error);
        return download_failure("update_download_failed", manifest);
    }
    const std::string latest = latest_symlink_target(updates_dir());
    copy_atomically(target, latest);
    // A failed copy leaves the latest image and its signature apart; "update-apply" then refuses it.
    if (signed_only_) copy_atomically(signature_path(target), signature_path(latest));
    return JsonObject()
        .add("status", "ok")
        .add("current_version", current_version_)
        .add("latest_version", manifest.version)
        .add("update_available", true)
        .add("downloaded", true)
        .add("downloaded_to", target)
        .add("latest_file", latest)
        .add("dmg_url", manifest.dmg_url)
        .str();
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
        return JsonObject()
            .add("status", "error")
            .add("reason", "update_file_missing")
            .add("updates_dir", updates_dir())
            .str();
    }
    // The image may have been replaced on disk since it was downloaded.
    if (signed_only_ && !verify_file_signature(candidate, read_kept_signature(candidate), public_key_)) {
        return JsonObject()
            .add("status", "error")
            .add("reason", "update_signature_invalid")
            .add("file", candidate)
            .str();
    }
    const std::string absolute = fs::absolute(candidate, error).string();
    if (run_program(open_command(error ? candidate : absolute)).exit_code != 0) {
        return JsonObject().add("status", "error").add("reason", "open_dmg_failed").add("file", candidate).str();
    }
    return JsonObject()
        .add("status", "ok")
        .add("applied", false)
        .add("install_flow_started", true)
        .add("file", candidate)
        .add("note", "dmg_opened_drag_updated_app_into_Applications")
        .str();
}

}  // namespace korvane::connector
