#pragma once

#include <optional>
#include <string>
#include <vector>

#include "connector/state/secret_store.h"

namespace korvane::connector {

// One exchange's API credentials.
struct StoredCredential {
    std::string exchange;
    std::string api_key;
    std::string api_secret;
    std::string passphrase;  // empty for exchanges that have none
};

// Keeps credentials in the system's secret store with one file per exchange as the fallback,
// and an index of the names that went to the store (a store cannot be listed). Saves and
// deletions of concurrent runs take turns on a lock in the vault folder.
class KeyVault {
  public:
    // Keeps `root_dir` and creates it (mode 0700) with all missing parents; `secrets` must
    // outlive the vault.
    KeyVault(std::string root_dir, SecretStore& secrets);

    // Stores `credential` in the secret store and removes an older fallback file, else writes the
    // fallback file; returns false when neither took it.
    bool save(const StoredCredential& credential) const;

    // Returns the copy of `exchange` saved last: the store's when the index lists the name, else
    // the fallback file's; without a file the store is asked in any case. Empty when neither
    // store holds it.
    std::optional<StoredCredential> load(const std::string& exchange) const;

    // Removes `exchange` from the store, its fallback file and the index (and what was learned
    // about its account); returns true only when no store holds it afterwards. For a name the
    // index lists, the store must confirm the removal.
    bool remove(const std::string& exchange) const;

    // Returns the index's names (in order, repeats kept) followed by the fallback files' names
    // not already listed.
    std::vector<std::string> list_exchanges() const;

    // Returns the backend name "status" prints, for example "macos_keychain_with_file_fallback".
    std::string backend_name() const { return secrets_.backend_name(); }

    // Returns the vault folder.
    const std::string& root_dir() const { return root_dir_; }

  private:
    std::string fallback_path(const std::string& exchange) const;
    std::string index_path() const;
    std::string lock_path() const;
    // Removes every index line of `exchange`; the caller holds the lock.
    void drop_from_index(const std::string& exchange) const;
    // Removes the temporary files a killed save or delete left in the vault; call under the lock.
    void sweep_temporary_files() const;

    std::string root_dir_;
    SecretStore& secrets_;
};

// Returns the four-line record text of `credential`; `final_newline` adds a line end after the
// last line (fallback files have one, keychain secrets do not). Nullopt when a value holds a
// carriage return, line feed or NUL.
std::optional<std::string> credential_record_text(const StoredCredential& credential, bool final_newline);

}  // namespace korvane::connector
