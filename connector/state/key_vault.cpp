#include "connector/state/key_vault.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "connector/state/account_memory.h"
#include "connector/state/file_lock.h"
#include "connector/state/files.h"
#include "connector/state/record_text.h"
#include "connector/toolkit/secure_wipe.h"

namespace korvane::connector {
namespace {

constexpr mode_t kSecretFileMode = 0600;

std::string service_for(const std::string& exchange) {
    return "korvane.connector." + sanitized_exchange_name(exchange);
}

StoredCredential parse_credential(const std::string& text) {
    StoredCredential credential;
    for (const auto& [key, value] : parse_record_text(text)) {
        if (key == "exchange")
            credential.exchange = value;
        else if (key == "api_key")
            credential.api_key = value;
        else if (key == "api_secret")
            credential.api_secret = value;
        else if (key == "passphrase")
            credential.passphrase = value;
    }
    return credential;
}

std::vector<std::string> non_empty_lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        if (end > start) lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::string lines_text(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

}  // namespace

std::optional<std::string> credential_record_text(const StoredCredential& credential, bool final_newline) {
    std::optional<std::string> text = format_record_text({{"exchange", credential.exchange},
                                                          {"api_key", credential.api_key},
                                                          {"api_secret", credential.api_secret},
                                                          {"passphrase", credential.passphrase}});
    if (text && !final_newline) text->pop_back();
    return text;
}

KeyVault::KeyVault(std::string root_dir, SecretStore& secrets) : root_dir_(std::move(root_dir)), secrets_(secrets) {
    make_private_directory(root_dir_);
}

std::string KeyVault::fallback_path(const std::string& exchange) const {
    return root_dir_ + "/" + sanitized_exchange_name(exchange) + ".vault";
}

std::string KeyVault::index_path() const {
    return root_dir_ + "/vault_index.txt";
}

std::string KeyVault::lock_path() const {
    return root_dir_ + "/.lock";
}

bool KeyVault::save(const StoredCredential& credential) const {
    // A deletion running beside this save must not rewrite the index from a stale read.
    const FileLock lock(lock_path());
    sweep_temporary_files();
    // A value with a line end would be read back as lines of its own: such a credential is
    // refused rather than stored changed.
    std::optional<std::string> secret = credential_record_text(credential, false);
    std::optional<std::string> file_text = credential_record_text(credential, true);
    // The record texts hold the secret; wiped whichever way the save ends.
    const struct Wipe {
        std::optional<std::string>& a;
        std::optional<std::string>& b;
        ~Wipe() {
            if (a) secure_wipe(*a);
            if (b) secure_wipe(*b);
        }
    } wipe{secret, file_text};
    if (!secret || !file_text) return false;
    const std::string name = sanitized_exchange_name(credential.exchange);
    if (secrets_.store(service_for(credential.exchange), name, *secret)) {
        // The store cannot be enumerated, so the index is how "status" learns of the item.
        const std::vector<std::string> names = non_empty_lines(read_file(index_path()));
        const bool listed = std::find(names.begin(), names.end(), credential.exchange) != names.end() ||
                            append_file(index_path(), credential.exchange + "\n", kSecretFileMode);
        if (listed) {
            // An older plain-text copy would be read whenever the store is down; it is stale now.
            std::error_code error;
            std::filesystem::remove(fallback_path(credential.exchange), error);
            return true;
        }
        // Unlisted, the stored item would stay unseen by "status": the file copy below is seen.
    }
    if (!write_file_atomic(fallback_path(credential.exchange), *file_text, kSecretFileMode)) {
        return false;
    }
    // The store may still hold an older copy; unlisting the name makes the file the one loaded.
    drop_from_index(credential.exchange);
    return true;
}

std::optional<StoredCredential> KeyVault::load(const std::string& exchange) const {
    std::error_code error;
    const bool in_file = std::filesystem::is_regular_file(fallback_path(exchange), error);
    // The index lists the names whose last save went to the store. A file of a name not listed
    // is the newer copy, and reading it first spares a run the store's cost; a name in neither
    // is still asked for, as an item may have been put there without the index.
    const std::vector<std::string> listed = non_empty_lines(read_file(index_path()));
    if (!in_file || std::find(listed.begin(), listed.end(), exchange) != listed.end()) {
        if (auto secret = secrets_.fetch(service_for(exchange), sanitized_exchange_name(exchange))) {
            StoredCredential credential = parse_credential(*secret);
            secure_wipe(*secret);
            if (credential.exchange.empty()) credential.exchange = exchange;
            return credential;
        }
    }
    if (!in_file) return std::nullopt;
    std::string text = read_file(fallback_path(exchange));
    StoredCredential credential = parse_credential(text);
    secure_wipe(text);
    return credential;
}

bool KeyVault::remove(const std::string& exchange) const {
    const FileLock lock(lock_path());
    sweep_temporary_files();
    const std::vector<std::string> listed = non_empty_lines(read_file(index_path()));
    const bool store_has_latest = std::find(listed.begin(), listed.end(), exchange) != listed.end();
    // A store that cannot confirm the removal (not running, locked) may still hold the copy it
    // was last given, which would come back once it runs again. A name the index does not list
    // was last saved to its file, so removing the file is what a store that is out of reach
    // leaves to do.
    const bool out_of_store =
        secrets_.remove(service_for(exchange), sanitized_exchange_name(exchange)) || !store_has_latest;
    std::error_code error;
    std::filesystem::remove(fallback_path(exchange), error);
    AccountMemoryStore(root_dir_).forget(exchange);

    // An item the store still holds stays listed, so "status" keeps showing what is stored.
    if (out_of_store) drop_from_index(exchange);

    const bool in_file = std::filesystem::exists(fallback_path(exchange), error);
    return out_of_store && !in_file;
}

void KeyVault::sweep_temporary_files() const {
    // A run killed between writing a temporary file and renaming it leaves the file behind,
    // secret and all. Saves and deletes of the vault's files run under the lock, so a temporary
    // file of theirs seen here belongs to no live run.
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(root_dir_, error)) {
        const std::string name = entry.path().filename().string();
        const size_t mark = name.find(kTemporaryMark);
        if (mark == std::string::npos) continue;
        const std::string base = name.substr(0, mark);
        const bool ours =
            base == "vault_index.txt" || (base.size() > 6 && base.compare(base.size() - 6, 6, ".vault") == 0);
        std::error_code ignored;
        if (ours && entry.is_regular_file(ignored)) std::filesystem::remove(entry.path(), ignored);
    }
}

void KeyVault::drop_from_index(const std::string& exchange) const {
    std::vector<std::string> kept = non_empty_lines(read_file(index_path()));
    const size_t before = kept.size();
    kept.erase(std::remove(kept.begin(), kept.end(), exchange), kept.end());
    if (kept.size() != before) write_file_atomic(index_path(), lines_text(kept), kSecretFileMode);
}

std::vector<std::string> KeyVault::list_exchanges() const {
    std::vector<std::string> names = non_empty_lines(read_file(index_path()));
    std::error_code error;
    if (!std::filesystem::is_directory(root_dir_, error)) return names;
    for (const auto& entry : std::filesystem::directory_iterator(root_dir_, error)) {
        if (!entry.is_regular_file(error) || entry.path().extension() != ".vault") continue;
        const std::string name = entry.path().stem().string();
        if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
    }
    return names;
}

}  // namespace korvane::connector
