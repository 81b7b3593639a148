#pragma once

#include <string>

namespace korvane::connector {

// What one shell command line produced.
struct CommandOutput {
    int exit_code = 0;   // exit status; the raw wait status after a signal; -1 when no shell started
    std::string output;  // standard output and standard error, merged, as received
    std::string error;   // "popen failed" when the shell could not be started, else empty
};

// Returns `value` as one single-quoted shell word whose value is `value` byte for byte.
std::string shell_escape(const std::string& value);

// Runs `command` through the system shell with standard error merged into standard output;
// blocks until it exits and returns its whole output, however long.
CommandOutput run_command(const std::string& command);

}  // namespace korvane::connector
