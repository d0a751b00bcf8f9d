// Logs a scripted sequence through the library's logger, so that tests can
// run each environment variant in a fresh process.
//
//   logger_probe levels          one info, one warn and one error line
//   logger_probe count N         N info lines "line <i>"
//   logger_probe journal MARKER  one line per level carrying MARKER, then one of the library's own
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <string>

#include "kelvane_rovimar_diagnosis/sensor_diagnosis.hpp"
#include "logger/logger.hpp"

namespace {

void logToJournal(const std::string& marker) {
  const int first_line = __LINE__ + 1;
  LOG_INFO("journal {} info", marker);
  LOG_WARN("journal {} warn", marker);
  LOG_ERROR("journal {} error", marker);
  Diagnosis().reloadConfig();  // logs "No config file path set"
  std::cout << "lines " << first_line << " pid " << getpid() << std::endl;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string scenario = argc > 1 ? argv[1] : "";
  if (scenario == "levels") {
    LOG_INFO("info message");
    LOG_WARN("warn message");
    LOG_ERROR("error message {}", 42);
  } else if (scenario == "count" && argc > 2) {
    for (int line = 1; line <= std::atoi(argv[2]); ++line) LOG_INFO("line {}", line);
  } else if (scenario == "journal" && argc > 2) {
    logToJournal(argv[2]);
  } else {
    std::cerr << "unknown scenario\n";
    return 2;
  }
  return 0;
}
