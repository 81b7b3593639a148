#pragma once

#include <string>
#include <vector>

namespace korvane::connector {

// What one program run produced.
struct ProgramRun {
    int exit_code = 0;   // exit status; 128 + the signal's number when a signal ended it; 127 when the
                         // program could not be started; -1 when no pipe or child could be had
    std::string output;  // standard output, whole and as received
};

// Runs the program argv[0] (looked up on PATH unless it holds a "/") with exactly the arguments
// argv[1..], no shell in between, so no argument is ever read as shell syntax. Standard output
// is captured; standard error is discarded, so a tool's warnings never mix with what it prints;
// standard input is the caller's. Blocks until the program exits. An empty argv is exit 127.
ProgramRun run_program(const std::vector<std::string>& argv);

}  // namespace korvane::connector
