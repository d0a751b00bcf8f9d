// Checks a threshold file with the library's own validation and loading, so
// that an edited file is known good before it reaches a robot.
//
//   check_thresholds [--strict] <sensor_thresholds.yaml>
//
// Prints the library's messages, a warning for what loads but is most likely
// a mistake, and a one-line verdict. Exits 0 when the file loads, 1 when it
// does not; with --strict, also 1 when there is a warning. The file is read
// once, so a pipe (/dev/stdin) or a named pipe works as a file does.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "kelvane_rovimar_diagnosis/sensor_diagnosis.hpp"
#include "threshold_lint.hpp"

int main(int argc, char** argv) {
  const bool strict = argc == 3 && std::string(argv[1]) == "--strict";
  if (argc != (strict ? 3 : 2)) {
    std::cerr << "usage: check_thresholds [--strict] <sensor_thresholds.yaml>" << std::endl;
    return 1;
  }
  const std::string path = argv[strict ? 2 : 1];
  // Only the file's own messages are of interest here, not the logger's notices.
  setenv("SPDLOG_STDOUT", "true", 0);
  setenv("SPDLOG_SYSTEMD", "false", 0);
  setenv("SPDLOG_LEVEL", "info", 0);

  std::error_code ignored;
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  const bool read = !std::filesystem::is_directory(path, ignored) && file && text << file.rdbuf();
  Diagnosis diagnosis;
  // What cannot be read is left to the loader to try, and to say why it fails.
  const bool loaded =
      read ? diagnosis.loadConfigFromText(text.str(), path) : diagnosis.loadConfigFromFile(path);
  const auto summary = kelvane_rovimar_diagnosis::lintThresholdFile(read ? text.str() : "");
  for (const std::string& warning : summary.warnings) {
    std::cout << "warning: " << warning << std::endl;
  }
  if (!loaded) {
    std::cout << path << ": INVALID, see the messages above" << std::endl;
    return 1;
  }
  std::cout << path << ": OK, " << summary.nodes << " nodes, " << summary.sensors << " sensors, "
            << summary.calibration_sensors << " calibration sensors";
  if (!summary.warnings.empty()) {
    std::cout << ", " << summary.warnings.size() << " warnings";
  }
  std::cout << std::endl;
  return strict && !summary.warnings.empty() ? 1 : 0;
}
