#pragma once

#include <iosfwd>

#include "connector/app/connector_app.h"

namespace korvane::connector {

// The command-line vocabulary: command words, operand counts, usage texts and printed blocks.
class CommandDispatcher {
  public:
    explicit CommandDispatcher(ConnectorApp& app) : app_(app) {}

    // Runs the command named by argv[1]; returns the process exit code (0, 1 usage, 2 negative).
    int run_cli(int argc, const char* const* argv);

  private:
    ConnectorApp& app_;
};

// Parses a number operand like strtol (leading white space, sign, digits, rest ignored).
// Returns false when there are no digits or the value does not fit in 32 bits.
bool parse_int_operand(const char* text, int& value);

}  // namespace korvane::connector
