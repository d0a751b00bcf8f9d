// What every fuzz target shares: the library's log lines caught instead of
// printed, a scratch file to hand inputs over as files, and a way to fail.
#ifndef FUZZ_FUZZ_SUPPORT_HPP_
#define FUZZ_FUZZ_SUPPORT_HPP_

#include <spdlog/logger.h>
#include <spdlog/sinks/ostream_sink.h>
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "logger/logger.hpp"

namespace fuzz_support {

/// The library's log lines since the last call.
inline std::string takeLogLines() {
  static std::ostringstream lines;
  static const bool caught = [] {
    setenv("SPDLOG_STDOUT", "true", 1);
    setenv("SPDLOG_SYSTEMD", "false", 1);
    setenv("SPDLOG_LEVEL", "info", 1);
    auto& sinks = kelvane::Logger::Instance("fuzz").spdlogLogger()->sinks();
    sinks.assign({std::make_shared<spdlog::sinks::ostream_sink_mt>(lines)});
    return true;
  }();
  const std::string text = caught ? lines.str() : "";
  lines.str("");
  return text;
}

/// Writes the input to a file of its own (one per process and `name`) and returns its path.
inline std::string writeScratchFile(const std::string& name, const uint8_t* data, size_t size) {
  static const std::string directory = [] {
    std::string pattern = std::filesystem::temp_directory_path() / "fuzz-diagnosis-XXXXXX";
    return std::string(mkdtemp(pattern.data()));
  }();
  const std::string path = directory + "/" + name;
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  return path;
}

/// Fails the run on a broken promise: libFuzzer keeps the input that did it.
inline void require(bool kept, const char* promise) {
  if (!kept) std::fprintf(stderr, "broken: %s\n", promise), abort();
}

}  // namespace fuzz_support

#endif  // FUZZ_FUZZ_SUPPORT_HPP_
