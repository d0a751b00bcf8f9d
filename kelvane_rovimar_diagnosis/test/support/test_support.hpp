// What most tests share: a directory of their own, the log lines on standard
// output, commands run as a robot engineer would run them, and threshold
// documents.
#ifndef TEST_SUPPORT_TEST_SUPPORT_HPP_
#define TEST_SUPPORT_TEST_SUPPORT_HPP_

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace test_support {

using Lines = std::vector<std::string>;

/// Polls `condition` until it holds or ten seconds have passed; what it last answered.
template <typename Condition>
bool eventually(Condition condition) {
  for (const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
       !condition() && std::chrono::steady_clock::now() < end;)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return condition();
}

/// A directory of the test's own, removed with everything in it.
class TempDir {
 public:
  TempDir() : path_(mkdtemp(pattern_.data())) {}
  ~TempDir() { std::filesystem::remove_all(path_); }

  /// Writes `content` to `name` inside the directory and returns its path.
  std::string write(const std::string& name, const std::string& content) const {
    std::ofstream(path(name)) << content;
    return path(name);
  }
  std::string path(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string pattern_ = std::filesystem::temp_directory_path() / "diagnosis-XXXXXX";
  std::string path_;
};

inline Lines linesOf(const std::string& text) {
  Lines lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

/// Captures standard output from construction on. lines() gives the log lines
/// as tag and body ("[ERROR] No sensors configured"), the rolling number left
/// to the logger's own tests; with `all`, other lines are kept as they are.
class LogCapture {
 public:
  LogCapture() { testing::internal::CaptureStdout(); }
  ~LogCapture() {
    if (capturing_) testing::internal::GetCapturedStdout();
  }
  Lines lines(bool all = false) {
    capturing_ = false;
    Lines found;
    for (const auto& line : linesOf(testing::internal::GetCapturedStdout())) {
      const bool logged = line.size() > 5 && line[3] == ' ' && line[4] == '[';
      if (logged || all) found.push_back(logged ? line.substr(4) : line);
    }
    return found;
  }

 private:
  bool capturing_ = true;
};

inline long countOf(const Lines& lines, const std::string& line) {
  return std::count(lines.begin(), lines.end(), line);
}

struct ProcessResult {
  int exit_code = -1;  // -1 when the command did not exit normally
  std::string standard_output;
};

/// Runs `command` with /bin/sh and collects its standard output.
inline ProcessResult runCommand(const std::string& command) {
  ProcessResult result;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  for (size_t count; (count = fread(buffer, 1, sizeof(buffer), pipe)) > 0;)
    result.standard_output.append(buffer, count);
  const int status = pclose(pipe);
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

/// "  <name>:" and its seven keys one a line in this order, with these values
/// unless `values` replace or `omitted` drop some of them.
inline std::string sensorEntry(const std::string& name,
                               const std::map<std::string, std::string>& values = {},
                               const std::set<std::string>& omitted = {}) {
  // clang-format off
  static const char* const fields[][2] = {
      {"normal_hz", "10.0"}, {"low_ratio", "0.5"}, {"cutoff_timeout_ms", "500"}, {"cutoff_recovery_threshold", "3"},
      {"abnormal_duration_ms", "1000"}, {"fps_recovery_threshold", "8.0"}, {"fps_recovery_duration_ms", "2000"}};
  // clang-format on
  std::string entry = "  " + name + ":\n";
  for (const auto& [key, value] : fields) {
    const std::string& shown = values.count(key) > 0 ? values.at(key) : value;
    if (omitted.count(key) == 0) entry += "    " + std::string(key) + ": " + shown + "\n";
  }
  return entry;
}

/// A "sensors" section with one valid entry named "s".
inline std::string validSensors() { return "sensors:\n" + sensorEntry("s"); }

}  // namespace test_support

#endif  // TEST_SUPPORT_TEST_SUPPORT_HPP_
