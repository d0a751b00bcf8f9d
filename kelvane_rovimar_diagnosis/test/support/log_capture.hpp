// Captures what the library logs to standard output during a test, as the
// level tag and body of each line ("[ERROR] No sensors configured"); the
// rolling number, checked by the logger's own tests, is left out.
#ifndef TEST_SUPPORT_LOG_CAPTURE_HPP_
#define TEST_SUPPORT_LOG_CAPTURE_HPP_

#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace test_support {

class LogCapture {
 public:
  LogCapture() { testing::internal::CaptureStdout(); }
  ~LogCapture() {
    if (capturing_) {
      testing::internal::GetCapturedStdout();
    }
  }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  /// Stops capturing and returns the log lines written since construction;
  /// with `keep_plain_lines`, other lines of standard output are kept too, as they are.
  std::vector<std::string> lines(bool keep_plain_lines = false) {
    capturing_ = false;
    const std::string output = testing::internal::GetCapturedStdout();
    static const std::regex log_line(R"(^[ 0-9]{3} (\[(INFO|WARN|ERROR)\] .*)$)");
    std::vector<std::string> found;
    std::istringstream stream(output);
    for (std::string line; std::getline(stream, line);) {
      std::smatch match;
      if (std::regex_match(line, match, log_line)) {
        found.push_back(match[1]);
      } else if (keep_plain_lines) {
        found.push_back(line);
      }
    }
    return found;
  }

 private:
  bool capturing_ = true;
};

}  // namespace test_support

#endif  // TEST_SUPPORT_LOG_CAPTURE_HPP_
