// Checks a threshold file with the library's own validation and loading, so
// that an edited file is known good before it reaches a robot.
//
//   check_thresholds [--strict] [--print] <sensor_thresholds.yaml>
//
// Prints the library's messages, a warning for what loads but is most likely
// a mistake, and a one-line verdict; with --print, then the tables the
// library reads from the file. Exits 0 when the file loads, 1 when it does
// not; with --strict, also 1 when there is a warning. The file is read once,
// so a pipe (/dev/stdin) or a named pipe works as a file does.
#include <cstdlib>
#include <iostream>
#include <string>

#include "threshold_lint.hpp"

int main(int argc, char** argv) {
  kelvane_rovimar_diagnosis::CheckOptions options;
  int next = 1;
  for (; next < argc - 1; ++next) {
    const std::string flag = argv[next];
    if (flag != "--strict" && flag != "--print") break;
    (flag == "--strict" ? options.strict : options.print) = true;
  }
  if (next != argc - 1) {
    std::cerr << "usage: check_thresholds [--strict] [--print] <sensor_thresholds.yaml>"
              << std::endl;
    return 1;
  }
  // Only the file's own messages are of interest here, not the logger's notices.
  setenv("SPDLOG_STDOUT", "true", 0);
  setenv("SPDLOG_SYSTEMD", "false", 0);
  setenv("SPDLOG_LEVEL", "info", 0);
  return kelvane_rovimar_diagnosis::checkThresholdFile(argv[next], options, std::cout);
}
