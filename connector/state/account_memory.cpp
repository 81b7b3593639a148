#include "connector/state/account_memory.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "connector/state/files.h"
#include "connector/state/record_text.h"
#include "connector/toolkit/digest.h"

namespace korvane::connector {
namespace {

// The key itself is a secret; its digest is enough to tell whether the memory belongs to it.
std::string key_digest(const std::string& api_key) {
    return sha256_hex(api_key);
}

int64_t to_int64(const std::string& text) {
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    return errno != 0 || end == text.c_str() ? 0 : static_cast<int64_t>(value);
}

// The site and key version lines carry the exchange's name ("<name>_site"), as files written by
// earlier versions do, so those files keep their meaning and older readers keep reading ours.
std::string site_line(const std::string& exchange) {
    return exchange + "_site";
}

std::string key_version_line(const std::string& exchange) {
    return exchange + "_key_version";
}

// The "symbol=mode" entries of a margin_modes value, in order (empty ones left out).
std::vector<std::string> margin_entries(const std::string& modes) {
    std::vector<std::string> entries;
    size_t at = 0;
    while (at < modes.size()) {
        const size_t end = std::min(modes.find(';', at), modes.size());
        if (end > at) entries.push_back(modes.substr(at, end - at));
        at = end + 1;
    }
    return entries;
}

// True when `entry` is the mode of `symbol`.
bool entry_for(const std::string& entry, const std::string& symbol) {
    return entry.size() > symbol.size() && entry.compare(0, symbol.size(), symbol) == 0 &&
           entry[symbol.size()] == '=';
}

}  // namespace

int64_t usable_clock_offset(const AccountMemory& memory, int64_t now_ms) {
    if (memory.clock_measured_at_ms == 0) return 0;
    const int64_t age = now_ms - memory.clock_measured_at_ms;
    return age >= 0 && age <= kClockOffsetLifetimeMs ? memory.clock_offset_ms : 0;
}

std::string AccountMemoryStore::path(const std::string& exchange) const {
    return vault_dir_ + "/" + sanitized_exchange_name(exchange) + ".memory";
}

std::string margin_mode_of(const AccountMemory& memory, const std::string& symbol) {
    for (const std::string& entry : margin_entries(memory.margin_modes)) {
        if (entry_for(entry, symbol)) return entry.substr(symbol.size() + 1);
    }
    return "";
}

void remember_margin_mode(AccountMemory& memory, const std::string& symbol, const std::string& mode) {
    std::string kept;
    for (const std::string& entry : margin_entries(memory.margin_modes)) {
        if (!entry_for(entry, symbol)) kept += (kept.empty() ? "" : ";") + entry;
    }
    if (!mode.empty()) kept += (kept.empty() ? "" : ";") + symbol + "=" + mode;
    memory.margin_modes = kept;
}

AccountMemory AccountMemoryStore::load(const std::string& exchange, const std::string& api_key) const {
    AccountMemory memory;
    std::string owner;
    const std::string site_key = site_line(exchange);
    const std::string version_key = key_version_line(exchange);
    for (const auto& [key, value] : parse_record_text(read_file(path(exchange)))) {
        if (key == "key_digest")
            owner = value;
        else if (key == site_key)
            memory.site = value;
        else if (key == version_key)
            memory.key_version = value;
        else if (key == "environment")
            memory.environment = value;
        else if (key == "position_mode")
            memory.position_mode = value;
        else if (key == "clock_offset_ms")
            memory.clock_offset_ms = to_int64(value);
        else if (key == "clock_measured_at_ms")
            memory.clock_measured_at_ms = to_int64(value);
        else if (key == "margin_modes")
            memory.margin_modes = value;
        else if (key == "dual_mode")
            memory.dual_mode = value;
    }
    // Learned with another key (the credential was replaced): none of it applies.
    if (owner != key_digest(api_key)) return AccountMemory{};
    return memory;
}

Status AccountMemoryStore::save(const std::string& exchange, const std::string& api_key,
                                const AccountMemory& memory) const {
    const std::optional<std::string> text = format_record_text({
        {"key_digest", key_digest(api_key)},
        {site_line(exchange), memory.site},
        {key_version_line(exchange), memory.key_version},
        {"position_mode", memory.position_mode},
        {"environment", memory.environment},
        {"clock_offset_ms", std::to_string(memory.clock_offset_ms)},
        {"clock_measured_at_ms", std::to_string(memory.clock_measured_at_ms)},
        {"margin_modes", memory.margin_modes},
        {"dual_mode", memory.dual_mode},
    });
    if (!text || !write_file_atomic(path(exchange), *text, 0600)) {
        return Status::failure("write_failed", "cannot write " + path(exchange));
    }
    return Status::success();
}

std::string AccountMemoryStore::environment(const std::string& exchange) const {
    for (const auto& [key, value] : parse_record_text(read_file(path(exchange)))) {
        if (key == "environment") return value;
    }
    return "";
}

bool AccountMemoryStore::forget(const std::string& exchange) const {
    std::error_code error;
    std::filesystem::remove(path(exchange), error);
    return !std::filesystem::exists(path(exchange), error);
}

}  // namespace korvane::connector
