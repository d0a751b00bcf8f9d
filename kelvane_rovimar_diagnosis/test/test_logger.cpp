#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/run_process.hpp"

namespace {

const std::vector<std::string> kLoggerVariables = {"SPDLOG_STDOUT", "SPDLOG_SYSTEMD",
                                                   "SPDLOG_LEVEL"};

const char kStdoutUnset[] = "environment variable SPDLOG_STDOUT is not set, and set true\n";
const char kStdoutInvalid[] = "environment variable SPDLOG_STDOUT is invalid, and set true\n";
const char kSystemdUnset[] = "environment variable SPDLOG_SYSTEMD is not set, and set false\n";
const char kSystemdInvalid[] = "environment variable SPDLOG_SYSTEMD is invalid, and set false\n";
const char kLevelUnset[] = "environment variable SPDLOG_LEVEL is not set, and set default level\n";
const char kLevelInvalid[] =
    "environment variable SPDLOG_LEVEL is invalid, and set default level\n";
const char kAllThreeLevels[] =
    "  1 [INFO] info message\n"
    "  2 [WARN] warn message\n"
    "  3 [ERROR] error message 42\n";

test_support::ProcessResult runProbe(const std::vector<std::string>& arguments,
                                     const std::map<std::string, std::string>& variables) {
  std::vector<std::string> command = {LOGGER_PROBE};
  command.insert(command.end(), arguments.begin(), arguments.end());
  return test_support::runProcess(command,
                                  test_support::environmentWith(kLoggerVariables, variables));
}

struct EnvironmentCase {
  std::string name;
  std::map<std::string, std::string> variables;  // absent means unset
  std::string expected_stdout;
};

void PrintTo(const EnvironmentCase& row, std::ostream* out) { *out << row.name; }

class LoggerEnvironment : public ::testing::TestWithParam<EnvironmentCase> {};

TEST_P(LoggerEnvironment, PrintsNoticesThenTheLinesItsLevelLetsThrough) {
  const EnvironmentCase& row = GetParam();
  const auto result = runProbe({"levels"}, row.variables);
  ASSERT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.standard_output, row.expected_stdout);
}

const std::map<std::string, std::string> kQuiet = {
    {"SPDLOG_STDOUT", "true"}, {"SPDLOG_SYSTEMD", "false"}, {"SPDLOG_LEVEL", "info"}};

std::map<std::string, std::string> quietWith(const std::string& name, const std::string& value) {
  auto variables = kQuiet;
  variables[name] = value;
  return variables;
}

INSTANTIATE_TEST_SUITE_P(
    Variants, LoggerEnvironment,
    ::testing::Values(
        EnvironmentCase{"NothingSet",
                        {},
                        std::string(kStdoutUnset) + kSystemdUnset + kLevelUnset + kAllThreeLevels},
        EnvironmentCase{"AllValid", kQuiet, kAllThreeLevels},
        EnvironmentCase{"StdoutInCapitals", quietWith("SPDLOG_STDOUT", "TRUE"),
                        std::string(kStdoutInvalid) + kAllThreeLevels},
        EnvironmentCase{"StdoutEmpty", quietWith("SPDLOG_STDOUT", ""),
                        std::string(kStdoutInvalid) + kAllThreeLevels},
        EnvironmentCase{"SystemdInvalid", quietWith("SPDLOG_SYSTEMD", "yes"),
                        std::string(kSystemdInvalid) + kAllThreeLevels},
        EnvironmentCase{"LevelWarnIsNotAName", quietWith("SPDLOG_LEVEL", "warn"),
                        std::string(kLevelInvalid) + kAllThreeLevels},
        EnvironmentCase{"LevelErrIsNotAName", quietWith("SPDLOG_LEVEL", "err"),
                        std::string(kLevelInvalid) + kAllThreeLevels},
        EnvironmentCase{"LevelOffIsNotAName", quietWith("SPDLOG_LEVEL", "off"),
                        std::string(kLevelInvalid) + kAllThreeLevels},
        EnvironmentCase{"LevelInCapitals", quietWith("SPDLOG_LEVEL", "INFO"),
                        std::string(kLevelInvalid) + kAllThreeLevels},
        EnvironmentCase{"LevelWarningDropsInfo", quietWith("SPDLOG_LEVEL", "warning"),
                        "  1 [WARN] warn message\n  2 [ERROR] error message 42\n"},
        EnvironmentCase{"LevelErrorNumbersTheFirstErrorOne", quietWith("SPDLOG_LEVEL", "error"),
                        "  1 [ERROR] error message 42\n"},
        EnvironmentCase{"LevelCriticalDropsEverything", quietWith("SPDLOG_LEVEL", "critical"), ""},
        EnvironmentCase{"LevelDebugKeepsEverything", quietWith("SPDLOG_LEVEL", "debug"),
                        kAllThreeLevels},
        EnvironmentCase{
            "BothSinksOffPrintsNothing",
            {{"SPDLOG_STDOUT", "false"}, {"SPDLOG_SYSTEMD", "false"}, {"SPDLOG_LEVEL", "info"}},
            ""},
        EnvironmentCase{"JournalOnlyStillPrintsNotices",
                        {{"SPDLOG_STDOUT", "false"}, {"SPDLOG_SYSTEMD", "true"}},
                        kLevelUnset}),
    [](const ::testing::TestParamInfo<EnvironmentCase>& info) { return info.param.name; });

TEST(LoggerSequence, NumbersWrapFrom127ToZero) {
  const auto result = runProbe({"count", "130"}, kQuiet);
  ASSERT_EQ(result.exit_code, 0);
  std::istringstream lines(result.standard_output);
  std::vector<std::string> all;
  for (std::string line; std::getline(lines, line);) {
    all.push_back(line);
  }
  ASSERT_EQ(all.size(), 130u);
  EXPECT_EQ(all[0], "  1 [INFO] line 1");
  EXPECT_EQ(all[8], "  9 [INFO] line 9") << "one-digit numbers take three places";
  EXPECT_EQ(all[126], "127 [INFO] line 127");
  EXPECT_EQ(all[127], "  0 [INFO] line 128");
  EXPECT_EQ(all[128], "  1 [INFO] line 129");
}

TEST(LoggerInstance, SecondNameReturnsTheSameLoggerUnderItsFirstName) {
  const auto result = runProbe({"rename"}, kQuiet);
  ASSERT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.standard_output, "same 1 name spdlog\n");
}

// journalctl's JSON export gives one object per line; the fields we check are plain strings.
std::string jsonField(const std::string& record, const std::string& field) {
  const std::string key = "\"" + field + "\":\"";
  const auto start = record.find(key);
  if (start == std::string::npos) {
    return "";
  }
  const auto value_start = start + key.size();
  return record.substr(value_start, record.find('"', value_start) - value_start);
}

std::vector<std::string> journalRecordsContaining(const std::string& marker) {
  std::vector<std::string> records;
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(
      popen("journalctl SYSLOG_IDENTIFIER=spdlog -o json --no-pager 2>/dev/null", "r"), pclose);
  if (!pipe) {
    return records;
  }
  std::string line;
  char buffer[4096];
  while (fgets(buffer, sizeof(buffer), pipe.get()) != nullptr) {
    line += buffer;
    if (!line.empty() && line.back() == '\n') {
      if (line.find(marker) != std::string::npos) {
        records.push_back(line);
      }
      line.clear();
    }
  }
  return records;
}

// A journal socket left behind by a stopped journald refuses connections.
bool journalIsListening() {
  const int probe = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (probe < 0) {
    return false;
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string path = "/run/systemd/journal/socket";
  path.copy(address.sun_path, sizeof(address.sun_path) - 1);
  const bool listening =
      connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
  close(probe);
  return listening;
}

TEST(LoggerJournal, SendsEachLineWithItsPriorityAndCallSite) {
  if (!journalIsListening()) {
    GTEST_SKIP() << "no systemd journal is running on this machine";
  }
  const std::string marker =
      "marker-" + std::to_string(getpid()) + "-" +
      std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
  const auto result =
      runProbe({"journal", marker},
               {{"SPDLOG_STDOUT", "false"}, {"SPDLOG_SYSTEMD", "true"}, {"SPDLOG_LEVEL", "info"}});
  ASSERT_EQ(result.exit_code, 0);
  int info_line = 0;
  ASSERT_EQ(std::sscanf(result.standard_output.c_str(), "lines %d", &info_line), 1)
      << result.standard_output;

  // journald stores records asynchronously; give it up to ten seconds.
  std::vector<std::string> records;
  for (int attempt = 0; attempt < 100 && records.size() < 3; ++attempt) {
    records = journalRecordsContaining(marker);
    if (records.size() < 3) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }
  ASSERT_EQ(records.size(), 3u) << "the three lines did not reach the journal";

  const std::vector<std::pair<std::string, std::string>> expected = {
      {"  1 [INFO] journal " + marker + " info", "6"},
      {"  2 [WARN] journal " + marker + " warn", "4"},
      {"  3 [ERROR] journal " + marker + " error", "3"}};
  for (size_t index = 0; index < expected.size(); ++index) {
    const std::string& record = records[index];
    EXPECT_EQ(jsonField(record, "MESSAGE"), expected[index].first);
    EXPECT_EQ(jsonField(record, "PRIORITY"), expected[index].second);
    EXPECT_EQ(jsonField(record, "SYSLOG_IDENTIFIER"), "spdlog");
    EXPECT_EQ(jsonField(record, "CODE_FILE"), "./test/logger_probe.cpp");
    EXPECT_EQ(jsonField(record, "CODE_LINE"), std::to_string(info_line + static_cast<int>(index)));
    EXPECT_EQ(jsonField(record, "CODE_FUNC"), "logToJournal");
  }
}

}  // namespace
