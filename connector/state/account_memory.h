#pragma once

#include <cstdint>
#include <string>

#include "connector/toolkit/status.h"

namespace korvane::connector {

// What the connector learned about one stored credential from the exchange itself, so that
// later runs start right instead of asking again.
struct AccountMemory {
    std::string site;                // the exchange's site that accepted the key ("global", "eea", ...)
    std::string key_version;         // the key version the exchange accepts the key as ("2", "3")
    std::string position_mode;       // "one_way" or "hedge"; empty when not learned yet
    std::string environment;         // "demo" for a demo-trading key; empty for live trading
    int64_t clock_offset_ms = 0;     // the exchange's clock minus ours
    int64_t clock_measured_at_ms = 0;  // when the offset was measured (our clock); 0: never
    // Per contract, the margin mode the exchange keeps it in: "SYMBOL=cross;SYMBOL2=isolated".
    std::string margin_modes;
    // "true" for an account in dual (hedge) position mode, "false"; empty: not learned yet.
    std::string dual_mode;

    bool operator==(const AccountMemory&) const = default;
};

constexpr const char* kDemoEnvironment = "demo";

// A clock offset is trusted for this long after it was measured.
constexpr int64_t kClockOffsetLifetimeMs = 10 * 60 * 1000;

// Returns the margin mode remembered for `symbol` ("cross", "isolated"); empty when none is.
std::string margin_mode_of(const AccountMemory& memory, const std::string& symbol);
// Remembers `mode` for `symbol`, replacing what was remembered for it.
void remember_margin_mode(AccountMemory& memory, const std::string& symbol, const std::string& mode);

// Returns the offset to add to our clock at `now_ms`: the remembered one while it is fresh, else 0.
int64_t usable_clock_offset(const AccountMemory& memory, int64_t now_ms);

// Keeps one memory file per exchange in the vault folder ("<name>.memory", mode 0600), tied to
// the API key it was learned with: a memory written for another key reads as empty.
class AccountMemoryStore {
  public:
    explicit AccountMemoryStore(std::string vault_dir) : vault_dir_(std::move(vault_dir)) {}

    // Returns what is remembered for `exchange` under `api_key`; empty when nothing is.
    AccountMemory load(const std::string& exchange, const std::string& api_key) const;
    // Replaces the memory of `exchange` atomically.
    Status save(const std::string& exchange, const std::string& api_key, const AccountMemory& memory) const;
    // Returns the environment remembered for `exchange`'s stored key, whichever key that is (only
    // a validation writes the memory, and it rewrites it whole); empty for live trading.
    std::string environment(const std::string& exchange) const;
    // Removes the memory of `exchange`; true when none is left.
    bool forget(const std::string& exchange) const;
    // Returns the memory file's path.
    std::string path(const std::string& exchange) const;

  private:
    std::string vault_dir_;
};

}  // namespace korvane::connector
