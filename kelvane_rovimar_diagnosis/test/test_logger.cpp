// The logger as a robot engineer sees it: each environment in a process of
// its own (the variables are read once per process), the rolling number, and
// the records in the systemd journal.

#include <fmt/format.h>

#include <chrono>
#include <regex>
#include <thread>

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

TEST(LoggerJournal, SendsEachLineWithItsPriorityAndCallSite) {
  if (test_support::runCommand("test -S /run/systemd/journal/socket && pgrep -x systemd-journal")
          .exit_code) {
    GTEST_SKIP() << "no systemd journal is running on this machine";
  }
  const auto since = std::chrono::system_clock::now().time_since_epoch() / std::chrono::seconds(1);
  const auto result =
      runProbe("journal marker", "SPDLOG_STDOUT=false SPDLOG_SYSTEMD=true SPDLOG_LEVEL=info");
  int line = 0;
  int pid = 0;
  ASSERT_EQ(std::sscanf(result.standard_output.c_str(), "lines %d pid %d", &line, &pid), 2)
      << result.standard_output;
  // journald stores records asynchronously; give it up to ten seconds.
  const std::string query = "journalctl _PID=" + std::to_string(pid) + " --since=@" +
                            std::to_string(since) + " -o json --no-pager 2>/dev/null";
  Lines records;
  for (int attempt = 0; attempt < 100 && records.size() < 4; ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(attempt == 0 ? 0 : 100));
    records = linesOf(test_support::runCommand(query).standard_output);
  }
  Lines rendered;
  for (const auto& record : records) {
    rendered.emplace_back();
    for (const char* field :
         {"PRIORITY", "SYSLOG_IDENTIFIER", "CODE_FILE", "CODE_FUNC", "MESSAGE"}) {
      std::smatch value;
      std::regex_search(record, value, std::regex(std::string("\"") + field + "\":\"([^\"]*)\""));
      rendered.back() += (rendered.back().empty() ? "" : " ") + value[1].str();
    }
  }
  // clang-format off
  EXPECT_EQ(rendered, (Lines{"6 spdlog ./test/logger_probe.cpp logToJournal   1 [INFO] journal marker info",
      "4 spdlog ./test/logger_probe.cpp logToJournal   2 [WARN] journal marker warn", "3 spdlog ./test/logger_probe.cpp logToJournal   3 [ERROR] journal marker error",
      "3 spdlog ./src/sensor_diagnosis.cpp reloadConfig   4 [ERROR] No config file path set"}));
  // clang-format on
  ASSERT_EQ(records.size(), 4u);
  EXPECT_NE(records[0].find("\"CODE_LINE\":\"" + std::to_string(line) + "\""), std::string::npos);
  EXPECT_NE(records[2].find("\"CODE_LINE\":\"" + std::to_string(line + 2) + "\""),
            std::string::npos);
}

}  // namespace
