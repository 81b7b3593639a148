#pragma once

#include <iosfwd>
#include <optional>

#include "connector/app/connector_app.h"

namespace korvane::connector {

// The command-line vocabulary: command words, operand counts, usage texts and printed blocks.
class CommandDispatcher {
  public:
    // `input` is where `validate` reads operands given as "-" (standard input in the program).
    CommandDispatcher(ConnectorApp& app, std::istream& input) : app_(app), input_(input) {}

    // Runs the command named by argv[1]; returns the process exit code (0, 1 usage, 2 negative).
    // State that could not be saved is reported on standard error and makes the exit code 1.
    int run_cli(int argc, const char* const* argv);

  private:
    ConnectorApp& app_;
    std::istream& input_;
};

// Parses a number operand: decimal digits only, nothing before or after them (no sign, space,
// fraction or exponent). Returns false for anything else and for a value past 32 bits.
bool parse_int_operand(const char* text, int& value);

// Returns the line `help` ends with: whether update images must be signed.
std::string update_signing_note(bool signed_updates);

// Runs `help`, `--help` and `--version`, which need no state: they work before (and whatever
// becomes of) the application root. Returns the exit code; empty for any other word.
std::optional<int> run_stateless(int argc, const char* const* argv, bool signed_updates);

// Returns the text `help` prints: every command with its operands and what it does.
std::string help_text();

}  // namespace korvane::connector
