#include "connector/toolkit/shell.h"

#include <gtest/gtest.h>

#include <string>

namespace korvane::connector {
namespace {

TEST(ShellEscape, QuotesEveryByteAsOneWord) {
    const struct {
        std::string input;
        std::string quoted;
    } cases[] = {
        {"", "''"},
        {"a'b", "'a'\\''b'"},
        {"plain", "'plain'"},
        {"$HOME `id` \\n \"x\"", "'$HOME `id` \\n \"x\"'"},
        {"line\nbreak", "'line\nbreak'"},
        {"''", "''\\'''\\'''"},
    };
    for (const auto& c : cases) EXPECT_EQ(shell_escape(c.input), c.quoted) << c.input;
}

TEST(ShellEscape, RoundTripsAwkwardStringsThroughARealShell) {
    const std::string samples[] = {
        "it's",
        "back\\slash",
        "\"double\"",
        "$(echo pwned)",
        "`id`",
        "tab\there",
        "new\nline",
        "semi;colon && ||",
        "glob * ? [a]",
        "percent %s %d",
        "unicode \xc3\xa9\xe2\x82\xac",
        "-n",
        std::string("trailing space "),
    };
    for (const std::string& sample : samples) {
        const CommandOutput run = run_command("printf %s " + shell_escape(sample));
        EXPECT_EQ(run.exit_code, 0);
        EXPECT_EQ(run.output, sample);
    }
}

// Programs started without a shell must see exactly the arguments the shell would give them.
TEST(RunCommand, DirectStartMatchesTheShell) {
    const std::string script =
        shell_escape("import sys; sys.stdout.write(repr(sys.argv[1:])); sys.stderr.write('!')");
    const std::string arguments = shell_escape("it's") + " plain-word:1 " + shell_escape("") + " " +
                                  shell_escape("a b\n\"$x\"") + " x=" + shell_escape("y'z");
    // A program named by path starts without a shell.
    const CommandOutput direct = run_command("/usr/bin/env python3 -c " + script + " " + arguments);
    const CommandOutput shell = run_command("command python3 -c " + script + " " + arguments);
    EXPECT_EQ(direct.exit_code, 0);
    EXPECT_EQ(direct.output, shell.output);
    EXPECT_EQ(direct.output, R"(["it's", 'plain-word:1', '', 'a b\n"$x"', "x=y'z"]!)");
    EXPECT_EQ(run_command("python3 -c " + shell_escape("raise SystemExit(4)")).exit_code, 4);
    EXPECT_EQ(run_command(shell_escape("/nonexistent/tool") + " -x").exit_code, 127);
}

TEST(RunCommand, MergesStandardErrorIntoOutput) {
    const CommandOutput run = run_command("sh -c 'echo oops >&2'");
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.output, "oops\n");
    EXPECT_EQ(run.error, "");
}

TEST(RunCommand, ReportsTheExitCode) {
    EXPECT_EQ(run_command("exit 3").exit_code, 3);
    const CommandOutput quiet = run_command("true");
    EXPECT_EQ(quiet.exit_code, 0);
    EXPECT_EQ(quiet.output, "");
    EXPECT_NE(run_command("definitely-not-a-command-korvane").exit_code, 0);
}

TEST(RunCommand, ReturnsLongOutputWholeAndInOrder) {
    // Many short lines and one line longer than the read buffer.
    const CommandOutput lines = run_command("seq 1 5000");
    std::string expected;
    for (int i = 1; i <= 5000; ++i) expected += std::to_string(i) + "\n";
    EXPECT_EQ(lines.output, expected);

    const CommandOutput wide = run_command("head -c 10000 /dev/zero | tr '\\0' x");
    EXPECT_EQ(wide.output, std::string(10000, 'x'));
}

}  // namespace
}  // namespace korvane::connector
