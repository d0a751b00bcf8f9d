#include "monitor_view.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <tuple>

#include "diagnostic_msgs/msg/diagnostic_status.hpp"

namespace kelvane_rovimar_diagnosis {

namespace {

using diagnostic_msgs::msg::DiagnosticStatus;

// Widths of the columns that do not stretch; node and topic share the rest.
constexpr int kStateWidth = 9, kRateWidth = 11, kTimeWidth = 7, kJitterWidth = 7;
constexpr int kFixedWidth = kStateWidth + kRateWidth + 2 * kTimeWidth + kJitterWidth + 6;

/// Levels from the worst, with their names and colours.
constexpr std::array kWorstFirst = {DiagnosticStatus::ERROR, DiagnosticStatus::WARN,
                                    DiagnosticStatus::OK};
/// Streams at each level, worst first.
using LevelCounts = std::array<int, kWorstFirst.size()>;
const char* levelName(uint8_t level) {
  return level == DiagnosticStatus::ERROR  ? "error"
         : level == DiagnosticStatus::WARN ? "warn"
                                           : "ok";
}
const char* levelColour(uint8_t level) {
  return level == DiagnosticStatus::ERROR  ? "\033[1;31m"
         : level == DiagnosticStatus::WARN ? "\033[33m"
                                           : "\033[32m";
}
/// Where `level` stands in kWorstFirst.
size_t rank(uint8_t level) {
  return static_cast<size_t>(std::find(kWorstFirst.begin(), kWorstFirst.end(), level) -
                             kWorstFirst.begin());
}

/// `text` in exactly `width` (at least 2) columns: padded, or cut with a '~' where it is
/// cut, at its end or (`keep_end`, for topics, whose end tells most) its start.
std::string fit(const std::string& text, int width, bool keep_end = false) {
  const auto columns = static_cast<size_t>(width);
  if (text.size() <= columns) {
    return text + std::string(columns - text.size(), ' ');
  }
  return keep_end ? "~" + text.substr(text.size() - columns + 1)
                  : text.substr(0, columns - 1) + "~";
}

/// A duration in a few characters: ms, s, min or h.
std::string duration(double ms) {
  const double size = std::abs(ms);
  return size < 1000.0      ? fmt::format("{:.0f}ms", ms)
         : size < 60000.0   ? fmt::format("{:.1f}s", ms / 1000.0)
         : size < 3600000.0 ? fmt::format("{:.1f}m", ms / 60000.0)
                            : fmt::format("{:.1f}h", ms / 3600000.0);
}

std::string state(const StreamHealth& stream, uint8_t level) {
  if (level == DiagnosticStatus::ERROR) return "TIMED OUT";
  switch (stream.condition) {
    case StreamCondition::SUSPENDED:
      return "SUSPENDED";
    case StreamCondition::NOT_JUDGED:
      return "UNJUDGED";
    case StreamCondition::INITIALIZING:
      return stream.silence_ms ? "STARTING" : "NO MSG";
    default:
      return level == DiagnosticStatus::WARN ? "RATE LOW" : "OK";
  }
}

std::string counts(const LevelCounts& by_level) {
  std::string text;
  for (size_t index = 0; index < kWorstFirst.size(); ++index) {
    if (by_level[index] > 0) {
      text += fmt::format("{}{} {}", text.empty() ? "" : ", ", by_level[index],
                          levelName(kWorstFirst[index]));
    }
  }
  return text;
}

}  // namespace

std::vector<std::string> renderView(const std::vector<StreamHealth>& streams, ViewSize size,
                                    bool colour) {
  // Each stream with the rank of its level: the worst first, then by node and topic.
  std::vector<std::pair<size_t, const StreamHealth*>> rows;
  LevelCounts by_level{};
  for (const StreamHealth& stream : streams) {
    rows.emplace_back(rank(diagnosticLevel(stream)), &stream);
    ++by_level[rows.back().first];
  }
  std::stable_sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) {
    return std::tie(a.first, a.second->node, a.second->topic) <
           std::tie(b.first, b.second->node, b.second->topic);
  });

  const int names = std::max(size.columns - kFixedWidth, 16);
  const int node_width = names * 2 / 5, topic_width = names - node_width;
  const auto line = [&](const std::string& first, const std::string& node, const std::string& topic,
                        const std::string& rate, const std::string& silence, const std::string& age,
                        const std::string& jitter) {
    return fmt::format("{} {} {} {:>{}} {:>{}} {:>{}} {:>{}}", first, fit(node, node_width),
                       fit(topic, topic_width, true), rate, kRateWidth, silence, kTimeWidth, age,
                       kTimeWidth, jitter, kJitterWidth);
  };
  std::vector<std::string> lines = {
      fmt::format("{} streams: {}", streams.size(), streams.empty() ? "none" : counts(by_level)),
      line(fit("STATE", kStateWidth), "NODE", "TOPIC", "RATE/NOM Hz", "SILENCE", "AGE", "JITTER")};
  const auto room = static_cast<size_t>(std::max(size.lines - 2, 1));
  const size_t shown = rows.size() <= room ? rows.size() : room - 1;
  LevelCounts left_out{};
  for (size_t index = 0; index < rows.size(); ++index) {
    const auto& [level_rank, stream] = rows[index];
    if (index >= shown) {
      ++left_out[level_rank];
      continue;
    }
    const uint8_t level = kWorstFirst[level_rank];
    const std::string cell = fit(state(*stream, level), kStateWidth);
    lines.push_back(
        line(colour ? levelColour(level) + cell + "\033[0m" : cell, stream->node, stream->topic,
             fmt::format("{:.1f}/{:.0f}", stream->rate_hz, stream->nominal_hz),
             stream->silence_ms ? duration(static_cast<double>(*stream->silence_ms)) : "-",
             stream->age_ms ? duration(*stream->age_ms) : "-",
             stream->jitter_ms ? duration(*stream->jitter_ms) : "-"));
  }
  if (shown < rows.size()) {
    lines.push_back(fmt::format("... {} more: {}", rows.size() - shown, counts(left_out)));
  }
  return lines;
}

}  // namespace kelvane_rovimar_diagnosis
