// The process-wide logger: numbered, tagged lines on standard output and,
// when enabled, in the systemd journal.
//
//   LOG_INFO("Node auto-registered: {}", node_name);
//
// writes "  7 [INFO] Node auto-registered: lidar_node" with the call site
// (file, line, function) attached for the journal. The environment variables
// SPDLOG_STDOUT, SPDLOG_SYSTEMD and SPDLOG_LEVEL are read once, by the first
// log call of the process.
#ifndef KELVANE_ROVIMAR_DIAGNOSIS__LOGGER__LOGGER_HPP_
#define KELVANE_ROVIMAR_DIAGNOSIS__LOGGER__LOGGER_HPP_

#include <fmt/format.h>
#include <spdlog/common.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace spdlog {
class logger;
}

namespace kelvane {

class Logger {
 public:
  /// Returns the one logger of the process; the first call configures it from
  /// the environment and names it `name`, later calls ignore `name`. It lives
  /// until the process ends, so that objects destroyed after main can log.
  static Logger& Instance(const std::string& name);

  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;

  /// The spdlog logger carrying the selected sinks; empty if configuration
  /// stopped before it was created.
  std::shared_ptr<spdlog::logger> spdlogLogger() const { return logger_; }

  /// The spdlog level number below which messages are dropped.
  int level() const { return level_; }

  /// False when no sink was configured: lines are then counted but never formatted.
  bool hasSinks() const { return has_sinks_; }

  /// Counts a message at `level` if the level lets it pass and returns its
  /// sequence number (0 to 127); none for a message that is dropped.
  std::optional<int> admit(spdlog::level::level_enum level);

 private:
  explicit Logger(const std::string& name);

  std::shared_ptr<spdlog::logger> logger_;
  // Shared by every logging thread; only its low 7 bits are shown.
  std::atomic<uint8_t> sequence_{0};
  int level_ = spdlog::level::info;
  bool has_sinks_ = false;
};

namespace detail {

/// Hands the finished line to the spdlog logger; never throws.
void write(const std::shared_ptr<spdlog::logger>& logger, spdlog::source_loc where,
           spdlog::level::level_enum level, std::string_view text) noexcept;

/// Formats "{0:3d} [TAG] " and the caller's message; never throws to the caller.
template <typename... Args>
void log(spdlog::source_loc where, spdlog::level::level_enum level,
         fmt::format_string<Args...> format, Args&&... args) noexcept {
  try {
    Logger& logger = Logger::Instance("spdlog");
    const std::optional<int> sequence = logger.admit(level);
    if (!sequence || !logger.hasSinks()) {
      return;
    }
    const std::shared_ptr<spdlog::logger> sink_logger = logger.spdlogLogger();
    std::string text;
    switch (level) {
      case spdlog::level::warn:
        text = fmt::format("{0:3d} [WARN] ", *sequence);
        break;
      case spdlog::level::err:
        text = fmt::format("{0:3d} [ERROR] ", *sequence);
        break;
      default:
        text = fmt::format("{0:3d} [INFO] ", *sequence);
        break;
    }
    fmt::format_to(std::back_inserter(text), format, std::forward<Args>(args)...);
    write(sink_logger, where, level, text);
  } catch (...) {
    // A log line is never worth failing the caller for.
  }
}

}  // namespace detail
}  // namespace kelvane

#define KELVANE_LOG_AT(level, ...) \
  ::kelvane::detail::log(::spdlog::source_loc{__FILE__, __LINE__, __func__}, level, __VA_ARGS__)

#define LOG_INFO(...) KELVANE_LOG_AT(::spdlog::level::info, __VA_ARGS__)
#define LOG_WARN(...) KELVANE_LOG_AT(::spdlog::level::warn, __VA_ARGS__)
#define LOG_ERROR(...) KELVANE_LOG_AT(::spdlog::level::err, __VA_ARGS__)

#endif  // KELVANE_ROVIMAR_DIAGNOSIS__LOGGER__LOGGER_HPP_
