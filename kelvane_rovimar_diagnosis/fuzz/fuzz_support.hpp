// What every fuzz target shares: the library's log lines counted instead of
// printed, a scratch file to hand inputs over as files, and a way to fail.
#ifndef FUZZ_FUZZ_SUPPORT_HPP_
#define FUZZ_FUZZ_SUPPORT_HPP_

#include <spdlog/logger.h>
#include <spdlog/sinks/base_sink.h>
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>

#include "logger/logger.hpp"

namespace fuzz_support {

class LineCounter : public spdlog::sinks::base_sink<std::mutex> {
 public:
  int errors = 0;
  int infos = 0;
  std::string last;

 protected:
  void sink_it_(const spdlog::details::log_msg& message) override {
    ++(message.level == spdlog::level::err ? errors : infos);
    last.assign(message.payload.data(), message.payload.size());
  }
  void flush_() override {}
};

/// The library's logger, writing to a counter only.
inline LineCounter& countLogLines() {
  static const std::shared_ptr<LineCounter> counter = [] {
    setenv("SPDLOG_STDOUT", "true", 1);
    setenv("SPDLOG_SYSTEMD", "false", 1);
    setenv("SPDLOG_LEVEL", "info", 1);
    auto sink = std::make_shared<LineCounter>();
    auto& sinks = kelvane::Logger::Instance("fuzz").spdlogLogger()->sinks();
    sinks.clear();
    sinks.push_back(sink);
    return sink;
  }();
  counter->errors = counter->infos = 0;
  return *counter;
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
  if (!kept) {
    std::fprintf(stderr, "broken: %s\n", promise);
    abort();
  }
}

}  // namespace fuzz_support

#endif  // FUZZ_FUZZ_SUPPORT_HPP_
