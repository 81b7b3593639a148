#include "connector/toolkit/run_program.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace korvane::connector {
namespace {

std::string numbers(int count) {
    std::string lines;
    for (int i = 1; i <= count; ++i) lines += std::to_string(i) + "\n";
    return lines;
}

TEST(RunProgram, PassesArgumentsAsTheyAreAndReportsWhatHappened) {
    const struct {
        std::vector<std::string> argv;
        int exit_code;
        std::string output;
    } cases[] = {
        // Every argument arrives byte for byte: nothing is read as shell syntax or split.
        {{"printf", "%s|", "it's", "$(echo pwned)", "`id`", "a b\n\"$x\"", "", "-n", "glob * ?", "\xc3\xa9"},
         0,
         "it's|$(echo pwned)|`id`|a b\n\"$x\"||-n|glob * ?|\xc3\xa9|"},
        {{"sh", "-c", "exit 3"}, 3, ""},
        // Standard error stays out of the output.
        {{"sh", "-c", "echo out; echo oops >&2"}, 0, "out\n"},
        {{"sh", "-c", "kill -TERM $$"}, 128 + 15, ""},
        {{"/nonexistent/tool", "-x"}, 127, ""},
        {{"definitely-not-a-program-korvane"}, 127, ""},
        {{}, 127, ""},
        // Long output comes whole and in order, a line longer than any read buffer included.
        {{"seq", "1", "5000"}, 0, numbers(5000)},
        {{"sh", "-c", "head -c 10000 /dev/zero | tr '\\0' x"}, 0, std::string(10000, 'x')},
    };
    for (const auto& c : cases) {
        const ProgramRun run = run_program(c.argv);
        const std::string name =
            c.argv.empty() ? "(empty)" : c.argv.front() + " " + std::to_string(c.argv.size());
        EXPECT_EQ(run.exit_code, c.exit_code) << name;
        EXPECT_EQ(run.output, c.output) << name;
    }
}

}  // namespace
}  // namespace korvane::connector
