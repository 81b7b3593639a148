#include "connector/state/key_vault.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "connector/state/files.h"
#include "connector/state/record_text.h"
#include "connector/toolkit/endpoints.h"
#include "connector/toolkit/shell.h"
#include "connector/toolkit/text.h"

namespace korvane::connector {
namespace {

constexpr mode_t kSecretFileMode = 0600;

std::string service_for(const std::string& exchange) {
    return "korvane.connector." + sanitized_exchange_name(exchange);
}

// " -s SERVICE -a ACCOUNT": how every keychain command names the item of `exchange`.
std::string item_arguments(const std::string& exchange) {
    return " -s " + shell_escape(service_for(exchange)) + " -a " +
           shell_escape(sanitized_exchange_name(exchange));
}

CommandOutput keychain_fetch(const std::string& exchange) {
    return run_command(shell_escape(keychain_tool()) + " find-generic-password" + item_arguments(exchange) +
                       " -w");
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

// macOS `security -w` prints a password holding line ends (as every record here does) in
// hexadecimal; such output is decoded back to the record text. Anything else is kept as it is.
std::string readable_secret(const std::string& output) {
    const std::string hex = trim(output);
    if (hex.empty() || hex.size() % 2 != 0 ||
        hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        return output;
    }
    std::string decoded;
    for (size_t i = 0; i < hex.size(); i += 2) {
        decoded += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    return decoded.find('=') != std::string::npos ? decoded : output;
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

}  // namespace

std::string sanitized_exchange_name(const std::string& exchange) {
    std::string name = exchange;
    for (char& c : name) {
        if (c == '/' || c == '\\' || c == ' ') c = '_';
    }
    return name;
}

std::string credential_record_text(const StoredCredential& credential, bool final_newline) {
    std::string text = format_record_text({{"exchange", credential.exchange},
                                           {"api_key", credential.api_key},
                                           {"api_secret", credential.api_secret},
                                           {"passphrase", credential.passphrase}});
    if (!final_newline) text.pop_back();
    return text;
}

KeyVault::KeyVault(std::string root_dir) : root_dir_(std::move(root_dir)) {
    make_private_directory(root_dir_);
}

std::string KeyVault::fallback_path(const std::string& exchange) const {
    return root_dir_ + "/" + sanitized_exchange_name(exchange) + ".vault";
}

std::string KeyVault::index_path() const {
    return root_dir_ + "/vault_index.txt";
}

bool KeyVault::save(const StoredCredential& credential) const {
    const std::string secret = credential_record_text(credential, false);
    const CommandOutput stored =
        run_command(shell_escape(keychain_tool()) + " add-generic-password -U" +
                    item_arguments(credential.exchange) + " -w " + shell_escape(secret));
    if (stored.exit_code == 0) {
        // The keychain cannot be enumerated, so the index is how "status" learns of the item.
        append_file(index_path(), credential.exchange + "\n", kSecretFileMode);
        return true;
    }
    return write_file_atomic(fallback_path(credential.exchange), credential_record_text(credential, true),
                             kSecretFileMode);
}

std::optional<StoredCredential> KeyVault::load(const std::string& exchange) const {
    const CommandOutput fetched = keychain_fetch(exchange);
    if (fetched.exit_code == 0) {
        StoredCredential credential = parse_credential(readable_secret(fetched.output));
        if (credential.exchange.empty()) credential.exchange = exchange;
        return credential;
    }
    std::error_code error;
    if (!std::filesystem::is_regular_file(fallback_path(exchange), error)) return std::nullopt;
    return parse_credential(read_file(fallback_path(exchange)));
}

bool KeyVault::remove(const std::string& exchange) const {
    run_command(shell_escape(keychain_tool()) + " delete-generic-password" + item_arguments(exchange));
    std::error_code error;
    std::filesystem::remove(fallback_path(exchange), error);

    const std::string index = read_file(index_path());
    std::vector<std::string> kept = non_empty_lines(index);
    const size_t before = kept.size();
    kept.erase(std::remove(kept.begin(), kept.end(), exchange), kept.end());
    if (kept.size() != before) {
        std::string text;
        for (const std::string& name : kept) text += name + "\n";
        write_file_atomic(index_path(), text, kSecretFileMode);
    }

    // The tool's exit code cannot tell "not there" from "failed", so ask again.
    const bool in_keychain = keychain_fetch(exchange).exit_code == 0;
    const bool in_file = std::filesystem::exists(fallback_path(exchange), error);
    return !in_keychain && !in_file;
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
