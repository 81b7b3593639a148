#include "connector/updater/updater.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <vector>

#include "connector/state/files.h"
#include "connector/state/random_hex.h"
#include "connector/state/record_text.h"
#include "connector/toolkit/digest.h"
#include "connector/toolkit/json.h"
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

UpdateOutcome refusal(const char* reason) {
    UpdateOutcome outcome;
    outcome.reason = reason;
    return outcome;
}

// Returns the refusal for a manifest that cannot be acted on; empty when it can.
std::optional<UpdateOutcome> manifest_refusal(const std::string& manifest_url, const Manifest& manifest) {
    UpdateOutcome outcome;
    outcome.manifest_url = manifest_url;
    outcome.latest_version = manifest.version;
    outcome.dmg_url = manifest.dmg_url;
    if (manifest.version.empty() || manifest.dmg_url.empty()) {
        outcome.reason = "manifest_invalid";
        outcome.manifest_text = manifest.text;
        return outcome;
    }
    // The version becomes part of a file name, and the URL is handed to the network stack.
    if (!is_safe_version(manifest.version)) {
        outcome.reason = "update_manifest_invalid";
        return outcome;
    }
    if (!is_allowed_image_url(manifest.dmg_url)) {
        outcome.reason = "update_url_rejected";
        return outcome;
    }
    return std::nullopt;
}

UpdateOutcome download_failure(const char* reason, const Manifest& manifest) {
    UpdateOutcome outcome = refusal(reason);
    outcome.latest_version = manifest.version;
    outcome.dmg_url = manifest.dmg_url;
    return outcome;
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

// What a download learned about an image, kept beside it, so "update-apply" can check the image
// again without the network (and after the manifest has moved on to another version).
struct KeptSignature {
    std::string version;
    std::string sha256;
    std::string ed25519;
};

std::string signature_path(const std::string& image) {
    return image + ".sig";
}

bool write_kept_signature(const std::string& image, const KeptSignature& kept) {
    const std::optional<std::string> text =
        format_record_text({{"version", kept.version}, {"sha256", kept.sha256}, {"ed25519", kept.ed25519}});
    return text && write_file_atomic(signature_path(image), *text, 0600);
}

// Returns what is kept beside `image`; empty fields when there is nothing (or far more than a
// signature record could be).
KeptSignature read_kept_signature(const std::string& image) {
    std::ifstream in(signature_path(image), std::ios::binary);
    char buffer[1024];
    in.read(buffer, sizeof buffer);
    const std::string text(buffer, static_cast<size_t>(in.gcount()));
    KeptSignature kept;
    if (text.size() == sizeof buffer) return kept;
    for (const auto& [key, value] : parse_record_text(text)) {
        if (key == "version") kept.version = value;
        if (key == "sha256") kept.sha256 = value;
        if (key == "ed25519") kept.ed25519 = value;
    }
    return kept;
}

bool is_sha256_hex(const std::string& text) {
    return text.size() == 64 &&
           std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isxdigit(c); });
}

// Returns the SHA-256 (lowercase hex) of the file open on `fd`, read from its start to its end;
// empty when it cannot be read. With `copy_fd` >= 0 the bytes read are also written there, so
// the copy is exactly the bytes digested.
std::string digest_and_copy(int fd, int copy_fd) {
    Sha256Stream digest;
    std::vector<char> buffer(1 << 16);
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return "";
        if (n == 0) break;
        const std::string_view piece(buffer.data(), static_cast<size_t>(n));
        digest.add(piece);
        for (size_t written = 0; copy_fd >= 0 && written < piece.size();) {
            const ssize_t w = ::write(copy_fd, piece.data() + written, piece.size() - written);
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) return "";
            written += static_cast<size_t>(w);
        }
    }
    return digest.hex();
}

// Returns the SHA-256 (lowercase hex) of the file at `path`; empty when it cannot be read.
std::string file_sha256(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return "";
    const std::string digest = digest_and_copy(fd, -1);
    ::close(fd);
    return digest;
}

constexpr const char* kImagePrefix = "Korvane-Connector-";
constexpr const char* kHandOverPrefix = ".open-";

// Returns the version in an image's file name ("Korvane-Connector-0.2.0.dmg" gives "0.2.0");
// empty for the latest-image copy and other names.
std::string version_of_image(const std::string& name) {
    const std::string prefix = kImagePrefix;
    if (name.rfind(prefix, 0) != 0 || name.size() <= prefix.size() + 4) return "";
    const std::string version = name.substr(prefix.size(), name.size() - prefix.size() - 4);
    return version == "latest" || !is_safe_version(version) ? "" : version;
}

// Removes the folders earlier runs handed images over in.
void sweep_hand_overs(const std::string& updates_dir) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(updates_dir, error)) {
        if (entry.path().filename().string().rfind(kHandOverPrefix, 0) != 0) continue;
        std::error_code ignored;
        if (entry.is_directory(ignored) && !entry.is_symlink(ignored)) fs::remove_all(entry.path(), ignored);
    }
}

// Downloads the manifest's image into `path`, following only redirects that meet the image URL
// rule; returns the refusal, empty on success.
std::optional<UpdateOutcome> fetch_image(HttpClient& http, const Manifest& manifest,
                                         const std::string& path) {
    HttpRequest request;
    request.url = manifest.dmg_url;
    request.timeout_ms = kDownloadLimitMs;
    request.max_reply_bytes = kMaxImageBytes;
    request.fail_on_http_error = true;
    request.follow_redirects = true;
    request.redirect_allowed = is_allowed_image_url;
    request.output_path = path;
    const HttpResult reply = http.send(request);
    if (reply.error == TransportError::redirect_refused) return download_failure("update_url_rejected", manifest);
    if (!reply.ok()) return download_failure("update_download_failed", manifest);
    return std::nullopt;
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
    // The folder holds what "update-apply" hands to the desktop: this user's alone.
    make_private_directory(updates_dir());
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
    return reply.ok() ? reply.body : "";
}

UpdateOutcome Updater::check() const {
    const std::string text = fetch_manifest();
    if (text.empty()) {
        UpdateOutcome outcome = refusal("update_check_failed");
        outcome.manifest_url = manifest_url_;
        return outcome;
    }
    const Manifest manifest = read_manifest(text);
    if (auto refused = manifest_refusal(manifest_url_, manifest)) return *refused;
    UpdateOutcome outcome;
    outcome.kind = UpdateOutcome::Kind::checked;
    outcome.current_version = current_version_;
    outcome.latest_version = manifest.version;
    outcome.update_available = compare_versions(current_version_, manifest.version) == -1;
    outcome.channel = manifest.channel;
    outcome.manifest_url = manifest_url_;
    outcome.dmg_url = manifest.dmg_url;
    outcome.manifest_text = manifest.text;
    outcome.signed_updates = signed_only_;
    return outcome;
}

UpdateOutcome Updater::download() const {
    const std::string text = fetch_manifest();
    if (text.empty()) {
        UpdateOutcome outcome = refusal("manifest_fetch_failed");
        outcome.manifest_url = manifest_url_;
        return outcome;
    }
    const Manifest manifest = read_manifest(text);
    if (auto refused = manifest_refusal(manifest_url_, manifest)) return *refused;
    UpdateOutcome outcome;
    outcome.current_version = current_version_;
    outcome.latest_version = manifest.version;
    outcome.dmg_url = manifest.dmg_url;
    if (compare_versions(current_version_, manifest.version) != -1) {
        outcome.kind = UpdateOutcome::Kind::already_latest;
        return outcome;
    }
    // An image that could never be installed is not fetched: with a key, the signature covers
    // the image's digest, so both must be published.
    if (signed_only_ && (manifest.ed25519.empty() || !is_sha256_hex(manifest.sha256))) {
        return download_failure("update_signature_invalid", manifest);
    }
    const std::string target = latest_download_target(updates_dir(), manifest.version);
    // The image lands under a temporary name and takes its real name only once it is whole
    // (and matches the published checksum), so "update-apply" never opens a partial file.
    const std::string temporary = partial_name(target);
    std::error_code error;
    if (auto refused = fetch_image(http_, manifest, temporary)) {
        fs::remove(temporary, error);
        return *refused;
    }
    const std::string digest = file_sha256(temporary);
    if (digest.empty() || (!manifest.sha256.empty() && lowercase(manifest.sha256) != digest)) {
        fs::remove(temporary, error);
        return download_failure("update_checksum_mismatch", manifest);
    }
    // Checked under the temporary name: an image the publisher did not sign, for this version,
    // never gets a name "update-apply" would open.
    if (signed_only_ && !verify_update_signature(manifest.version, digest, manifest.ed25519, public_key_)) {
        fs::remove(temporary, error);
        return download_failure("update_signature_invalid", manifest);
    }
    // The signature lands first, so the image never has its real name without it.
    if (signed_only_ && !write_kept_signature(target, {manifest.version, digest, manifest.ed25519})) {
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
    outcome.kind = UpdateOutcome::Kind::downloaded;
    outcome.update_available = true;
    outcome.downloaded_to = target;
    outcome.latest_file = latest;
    return outcome;
}

UpdateOutcome Updater::apply() const {
    const std::string dir = updates_dir();
    // The newest versioned image by version order ("0.10" is newer than "0.2").
    std::string candidate, candidate_version;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(dir, error)) {
        std::error_code ignored;
        if (!entry.is_regular_file(ignored) || entry.is_symlink(ignored)) continue;
        const std::string name = entry.path().filename().string();
        const std::string version = version_of_image(name);
        if (version.empty() || entry.path().extension() != ".dmg") continue;
        const int order = candidate.empty() ? 1 : compare_versions(version, candidate_version);
        if (order > 0 || (order == 0 && entry.path().string() > candidate)) {
            candidate = entry.path().string();
            candidate_version = version;
        }
    }
    // The latest-image copy is the last download, the one offered first. With a key its signed
    // version says which it is: an older image downloaded last never wins over a newer one (one
    // whose signature record is gone is still taken, and refused, rather than passed over).
    const std::string latest = latest_symlink_target(dir);
    const std::string latest_version = signed_only_ ? read_kept_signature(latest).version : "";
    if (fs::is_regular_file(fs::symlink_status(latest, error)) &&
        (candidate.empty() || latest_version.empty() ||
         compare_versions(latest_version, candidate_version) >= 0)) {
        candidate = latest;
    }
    if (candidate.empty()) candidate = latest;  // named in no answer; opens as missing
    // Opened once: what is checked and handed over is what this descriptor reads, whatever
    // happens to the name meanwhile.
    const int image = ::open(candidate.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    struct stat info {};
    if (image < 0 || ::fstat(image, &info) != 0 || !S_ISREG(info.st_mode)) {
        if (image >= 0) ::close(image);
        UpdateOutcome outcome = refusal("update_file_missing");
        outcome.updates_dir = dir;
        return outcome;
    }
    sweep_hand_overs(dir);
    std::string folder = dir + "/" + kHandOverPrefix + "XXXXXX";
    std::string copy;
    int copy_fd = -1;
    if (::mkdtemp(folder.data()) != nullptr) {
        copy = folder + "/" + fs::path(candidate).filename().string();
        copy_fd = ::open(copy.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    }
    const std::string digest = copy_fd >= 0 ? digest_and_copy(image, copy_fd) : "";
    ::close(image);
    const bool copied = copy_fd >= 0 && ::close(copy_fd) == 0 && !digest.empty();
    const auto refuse = [&](const char* reason) {
        fs::remove_all(folder, error);
        UpdateOutcome outcome = refusal(reason);
        outcome.file = candidate;
        return outcome;
    };
    if (!copied) return refuse("open_dmg_failed");
    if (signed_only_) {
        const KeptSignature kept = read_kept_signature(candidate);
        if (lowercase(kept.sha256) != digest ||
            !verify_update_signature(kept.version, digest, kept.ed25519, public_key_)) {
            return refuse("update_signature_invalid");
        }
        if (compare_versions(current_version_, kept.version) != -1) return refuse("update_not_newer");
    }
    // The desktop gets the checked copy in a folder only this user can enter, never a name
    // another process could swap.
    const std::string absolute = fs::absolute(copy, error).string();
    if (run_program(open_command(error ? copy : absolute)).exit_code != 0) return refuse("open_dmg_failed");
    UpdateOutcome outcome;
    outcome.kind = UpdateOutcome::Kind::opened;
    outcome.file = candidate;
    return outcome;
}

}  // namespace korvane::connector
