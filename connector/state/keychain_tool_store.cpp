#include "connector/state/keychain_tool_store.h"

#include "connector/toolkit/shell.h"
#include "connector/toolkit/text.h"

namespace korvane::connector {
namespace {

// " -s SERVICE -a ACCOUNT": how every command names the item.
std::string item_arguments(const std::string& service, const std::string& account) {
    return " -s " + shell_escape(service) + " -a " + shell_escape(account);
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return c - 'A' + 10;
}

}  // namespace

std::string readable_tool_secret(const std::string& output) {
    const std::string hex = trim(output);
    if (hex.empty() || hex.size() % 2 != 0 ||
        hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        return output;
    }
    std::string decoded;
    for (size_t i = 0; i < hex.size(); i += 2) {
        decoded += static_cast<char>(hex_value(hex[i]) * 16 + hex_value(hex[i + 1]));
    }
    // Every record holds "key=value" lines; a hex-looking secret without them is the secret itself.
    return decoded.find('=') != std::string::npos ? decoded : output;
}

bool KeychainToolStore::store(const std::string& service, const std::string& account, const std::string& secret) {
    return run_command(shell_escape(tool_) + " add-generic-password -U" + item_arguments(service, account) + " -w " +
                       shell_escape(secret))
               .exit_code == 0;
}

std::optional<std::string> KeychainToolStore::fetch(const std::string& service, const std::string& account) {
    const CommandOutput fetched =
        run_command(shell_escape(tool_) + " find-generic-password" + item_arguments(service, account) + " -w");
    if (fetched.exit_code != 0) return std::nullopt;
    return readable_tool_secret(fetched.output);
}

bool KeychainToolStore::remove(const std::string& service, const std::string& account) {
    run_command(shell_escape(tool_) + " delete-generic-password" + item_arguments(service, account));
    // The tool's exit code cannot tell "not there" from "failed", so ask again.
    return !fetch(service, account).has_value();
}

}  // namespace korvane::connector
