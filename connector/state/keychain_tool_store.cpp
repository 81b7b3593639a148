#include "connector/state/keychain_tool_store.h"

#include "connector/toolkit/run_program.h"
#include "connector/toolkit/text.h"

namespace korvane::connector {
namespace {

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

bool KeychainToolStore::store(const std::string& service, const std::string& account,
                              const std::string& secret) {
    // Every value is an argument of its own, after its option, so none is read as an option.
    return run_program({tool_, "add-generic-password", "-U", "-s", service, "-a", account, "-w", secret})
               .exit_code == 0;
}

std::optional<std::string> KeychainToolStore::fetch(const std::string& service, const std::string& account) {
    const ProgramRun fetched =
        run_program({tool_, "find-generic-password", "-s", service, "-a", account, "-w"});
    if (fetched.exit_code != 0) return std::nullopt;
    return readable_tool_secret(fetched.output);
}

bool KeychainToolStore::remove(const std::string& service, const std::string& account) {
    run_program({tool_, "delete-generic-password", "-s", service, "-a", account});
    // The tool's exit code cannot tell "not there" from "failed", so ask again.
    return !fetch(service, account).has_value();
}

}  // namespace korvane::connector
