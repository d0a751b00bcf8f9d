// The logger as a robot engineer sees it: each environment in a process of
// its own (the variables are read once per process), and the rolling number.

#include <fmt/format.h>

#include "support/test_support.hpp"

namespace {

using test_support::Lines;
using test_support::linesOf;

/// Runs the probe with the logger's variables unset but for `variables` ("NAME=value ...").
test_support::ProcessResult runProbe(const std::string& arguments, const std::string& variables) {
  return test_support::runCommand("env -u SPDLOG_STDOUT -u SPDLOG_SYSTEMD -u SPDLOG_LEVEL " +
                                  variables + " " LOGGER_PROBE " " + arguments);
}

const std::string kQuiet = "SPDLOG_STDOUT=true SPDLOG_SYSTEMD=false SPDLOG_LEVEL=info ";

TEST(LoggerEnvironment, PrintsItsNoticesThenTheLinesItsLevelLetsThrough) {
  // clang-format off
  const std::string all = "  1 [INFO] info message\n  2 [WARN] warn message\n  3 [ERROR] error message 42\n";
  const std::string stdout_invalid = "environment variable SPDLOG_STDOUT is invalid, and set true\n";
  const std::string level_invalid = "environment variable SPDLOG_LEVEL is invalid, and set default level\n";
  const std::string level_unset = "environment variable SPDLOG_LEVEL is not set, and set default level\n";
  // clang-format on
  const struct {
    std::string variables;
    std::string output;
  } rows[] = {
      // clang-format off
      {"", "environment variable SPDLOG_STDOUT is not set, and set true\nenvironment variable SPDLOG_SYSTEMD is not set, and set false\n" + level_unset + all},
      {kQuiet, all},
      {kQuiet + "SPDLOG_STDOUT=TRUE", stdout_invalid + all},
      {kQuiet + "SPDLOG_STDOUT=", stdout_invalid + all},
      {kQuiet + "SPDLOG_SYSTEMD=yes", "environment variable SPDLOG_SYSTEMD is invalid, and set false\n" + all},
      {kQuiet + "SPDLOG_LEVEL=warn", level_invalid + all},
      {kQuiet + "SPDLOG_LEVEL=INFO", level_invalid + all},
      {kQuiet + "SPDLOG_LEVEL=debug", all},
      {kQuiet + "SPDLOG_LEVEL=warning", "  1 [WARN] warn message\n  2 [ERROR] error message 42\n"},
      {kQuiet + "SPDLOG_LEVEL=error", "  1 [ERROR] error message 42\n"},
      {kQuiet + "SPDLOG_LEVEL=critical", ""},
      {kQuiet + "SPDLOG_STDOUT=false", ""},
      {"SPDLOG_STDOUT=false SPDLOG_SYSTEMD=true", level_unset},
      // clang-format on
  };
  for (const auto& row : rows) {
    const auto result = runProbe("levels", row.variables);
    EXPECT_EQ(result.exit_code, 0) << row.variables;
    EXPECT_EQ(result.standard_output, row.output) << row.variables;
  }
}

TEST(LoggerSequence, NumbersAdvanceByOneFrom1To127ThenWrapToZero) {
  const auto lines = linesOf(runProbe("count 300", kQuiet).standard_output);
  ASSERT_EQ(lines.size(), 300u);
  for (size_t line = 1; line <= lines.size(); ++line)
    EXPECT_EQ(lines[line - 1], fmt::format("{:3} [INFO] line {}", line % 128, line));
}

}  // namespace
