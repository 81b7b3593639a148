#include "connector/toolkit/shell.h"

#include <gtest/gtest.h>

namespace korvane::connector {
namespace {

TEST(ShellEscape, QuotesSingleQuote) { EXPECT_EQ(shell_escape("a'b"), "'a'\\''b'"); }

}  // namespace
}  // namespace korvane::connector
