// Logs a scripted sequence through the library's logger, so that tests can
// run each environment variant in a fresh process.
//
//   logger_probe levels          one info, one warn and one error line
//   logger_probe count N         N info lines "line <i>"
#include <cstdlib>
#include <iostream>
#include <string>

#include "logger/logger.hpp"

int main(int argc, char** argv) {
  const std::string scenario = argc > 1 ? argv[1] : "";
  if (scenario == "levels") {
    LOG_INFO("info message");
    LOG_WARN("warn message");
    LOG_ERROR("error message {}", 42);
  } else if (scenario == "count" && argc > 2) {
    for (int line = 1; line <= std::atoi(argv[2]); ++line) LOG_INFO("line {}", line);
  } else {
    std::cerr << "unknown scenario\n";
    return 2;
  }
  return 0;
}
