#include "logger/logger.hpp"

#include <spdlog/logger.h>
#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/ansicolor_sink.h>
#include <spdlog/sinks/systemd_sink.h>

#include <cstdlib>
#include <iostream>
#include <map>
#include <stdexcept>
#include <vector>

namespace kelvane {

namespace {

enum class SinkSwitch { kUnset, kOn, kOff, kInvalid };

SinkSwitch readSwitch(const char* variable) {
  const char* value = std::getenv(variable);
  if (value == nullptr) {
    return SinkSwitch::kUnset;
  }
  const std::string text(value);
  if (text == "true") {
    return SinkSwitch::kOn;
  }
  if (text == "false") {
    return SinkSwitch::kOff;
  }
  return SinkSwitch::kInvalid;
}

}  // namespace

Logger& Logger::Instance(const std::string& name) {
  // Never destroyed: a Diagnosis held at namespace scope, or as a static of
  // any kind, is destroyed after main returns, in an order no translation
  // unit controls, and its destructor and threads still log.
  static Logger* const instance = new Logger(name);
  return *instance;
}

Logger::Logger(const std::string& name) {
  try {
    std::vector<spdlog::sink_ptr> sinks;

    switch (readSwitch("SPDLOG_STDOUT")) {
      case SinkSwitch::kUnset:
        std::cout << "environment variable SPDLOG_STDOUT is not set, and set true\n";
        sinks.push_back(std::make_shared<
                        spdlog::sinks::ansicolor_stdout_sink<spdlog::details::console_mutex>>());
        break;
      case SinkSwitch::kOn:
        sinks.push_back(std::make_shared<
                        spdlog::sinks::ansicolor_stdout_sink<spdlog::details::console_mutex>>());
        break;
      case SinkSwitch::kOff:
        break;
      case SinkSwitch::kInvalid:
        std::cout << "environment variable SPDLOG_STDOUT is invalid, and set true\n";
        sinks.push_back(std::make_shared<
                        spdlog::sinks::ansicolor_stdout_sink<spdlog::details::console_mutex>>());
        break;
    }

    switch (readSwitch("SPDLOG_SYSTEMD")) {
      case SinkSwitch::kUnset:
        std::cout << "environment variable SPDLOG_SYSTEMD is not set, and set false\n";
        break;
      case SinkSwitch::kOn:
        sinks.push_back(std::make_shared<spdlog::sinks::systemd_sink<std::mutex>>());
        break;
      case SinkSwitch::kOff:
        break;
      case SinkSwitch::kInvalid:
        std::cout << "environment variable SPDLOG_SYSTEMD is invalid, and set false\n";
        break;
    }

    logger_ = std::make_shared<spdlog::logger>(name, sinks.begin(), sinks.end());
    has_sinks_ = !sinks.empty();

    const std::map<std::string, int> levels = {
        {"trace", spdlog::level::trace}, {"debug", spdlog::level::debug},
        {"info", spdlog::level::info},   {"warning", spdlog::level::warn},
        {"error", spdlog::level::err},   {"critical", spdlog::level::critical},
    };
    int level = spdlog::level::info;
    if (const char* value = std::getenv("SPDLOG_LEVEL"); value == nullptr) {
      std::cout << "environment variable SPDLOG_LEVEL is not set, and set default level\n";
    } else {
      try {
        level = levels.at(value);
      } catch (const std::out_of_range&) {
        std::cout << "environment variable SPDLOG_LEVEL is invalid, and set default level\n";
      }
    }
    level_ = level;
    logger_->set_level(static_cast<spdlog::level::level_enum>(level));

    // "%v" alone: no time stamp, logger name or level name, and no colour range.
    logger_->set_formatter(
        std::make_unique<spdlog::pattern_formatter>("%v", spdlog::pattern_time_type::local, "\n"));
  } catch (const spdlog::spdlog_ex&) {
    // Keep what configuration reached; a logger that was never created drops every message.
  }
}

std::optional<int> Logger::admit(spdlog::level::level_enum level) {
  if (level < level_) {
    return std::nullopt;
  }
  const uint8_t sequence = static_cast<uint8_t>(sequence_.fetch_add(1) + 1);
  return sequence & 0x7F;
}

namespace detail {

void write(const std::shared_ptr<spdlog::logger>& logger, spdlog::source_loc where,
           spdlog::level::level_enum level, std::string_view text) noexcept {
  try {
    logger->log(where, level, spdlog::string_view_t(text.data(), text.size()));
  } catch (...) {
    // spdlog reports sink failures through its own error handler.
  }
}

}  // namespace detail
}  // namespace kelvane
