#pragma once

#include <string>

#include "connector/state/secret_store.h"

namespace korvane::connector {

// A SecretStore run through a command-line tool with the macOS `security` tool's contract:
//   TOOL add-generic-password -U -s SERVICE -a ACCOUNT -w SECRET
//   TOOL find-generic-password -s SERVICE -a ACCOUNT -w     (the secret alone on standard output)
//   TOOL delete-generic-password -s SERVICE -a ACCOUNT
// That contract offers no way to store without the secret in the tool's arguments.
class KeychainToolStore : public SecretStore {
  public:
    // `tool` is the program's path; `backend_name` what "status" calls a vault on it.
    KeychainToolStore(std::string tool, std::string backend_name)
        : tool_(std::move(tool)), backend_name_(std::move(backend_name)) {}

    bool store(const std::string& service, const std::string& account, const std::string& secret) override;
    std::optional<std::string> fetch(const std::string& service, const std::string& account) override;
    bool remove(const std::string& service, const std::string& account) override;
    std::string backend_name() const override { return backend_name_; }

  private:
    std::string tool_;
    std::string backend_name_;
};

// Returns the record a keychain tool printed: `security -w` prints a password that holds line
// ends in hexadecimal, which is decoded; any other output is returned as it is.
std::string readable_tool_secret(const std::string& output);

}  // namespace korvane::connector
