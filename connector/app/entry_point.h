#pragma once

#include <optional>
#include <string>

namespace korvane::connector {

// Returns the application root: $HOME/.korvane-connector (relative when HOME is empty), the
// home folder coming from the password database when HOME is unset; empty when that has none.
std::string application_root();

// Settles the application root and relay URL, bootstraps the application and runs one command;
// updates must be signed with `update_public_key` (Base64) unless it is empty.
// Returns the process exit code.
int connector_main(int argc, const char* const* argv, const std::string& update_public_key);

}  // namespace korvane::connector
