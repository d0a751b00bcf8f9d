#include "stream_health.hpp"

#include <fmt/format.h>

#include "stream_checks.hpp"

namespace kelvane_rovimar_diagnosis {

namespace {

using diagnostic_msgs::msg::DiagnosticStatus;

std::string valueOr(const std::optional<double>& value, const char* format) {
  return value ? fmt::format(fmt::runtime(format), *value) : "none";
}

std::string wordsFor(const StreamHealth& stream, uint8_t level) {
  const bool low = stream.frame_rate == FrameRateState::ABNORMAL;
  if (level == DiagnosticStatus::ERROR) {
    return low ? "timed out, frame rate low" : "timed out";
  }
  if (stream.condition == StreamCondition::SUSPENDED) {
    return "suspended by its node";
  }
  if (stream.condition == StreamCondition::NOT_JUDGED) {
    return "not judged: it has no event codes";
  }
  if (low) {
    return "frame rate low";
  }
  if (stream.condition == StreamCondition::INITIALIZING) {
    return stream.silence_ms ? "initializing, within its first messages"
                             : "initializing, no message yet";
  }
  return "ok";
}

}  // namespace

const char* conditionName(StreamCondition condition) {
  switch (condition) {
    case StreamCondition::INITIALIZING:
      return "initializing";
    case StreamCondition::NORMAL:
      return "normal";
    case StreamCondition::TIMED_OUT:
      return "timed out";
    case StreamCondition::SUSPENDED:
      return "suspended";
    case StreamCondition::NOT_JUDGED:
      return "not judged";
  }
  return "unknown";
}

StreamHealth healthOf(const SensorState& state, const SensorThreshold& threshold, int64_t now_ms) {
  StreamHealth health;
  if (state.reported_status == 1) {
    health.condition = StreamCondition::SUSPENDED;
  } else if (state.stream_state == StreamState::TIMEOUT) {
    health.condition = StreamCondition::TIMED_OUT;
  } else if (!state.initializing && state.last_arrival_ms != 0) {
    health.condition = StreamCondition::NORMAL;
  }
  health.frame_rate = state.frame_rate_state;
  health.rate_hz = frameRateHz(state.receive_times_ms);
  health.nominal_hz = threshold.normal_hz;
  health.low_limit_hz = threshold.normal_hz * threshold.low_ratio;
  if (state.last_arrival_ms != 0) {
    health.silence_ms = now_ms - state.last_arrival_ms;
  }
  if (state.sender_stamped) {
    const auto& stamp = state.last_header.stamp;
    const int64_t stamp_ns = int64_t{stamp.sec} * 1000000000 + stamp.nanosec;
    health.age_ms = static_cast<double>(state.last_arrival_wall_ns - stamp_ns) / 1e6;
  }
  if (state.receive_times_ms.size() >= 3) {
    health.jitter_ms = state.receive_times_ms.intervalDeviationMs();
  }
  health.last_event_id = state.last_event_id;
  health.last_event_status = state.last_event_status;
  return health;
}

uint8_t diagnosticLevel(const StreamHealth& stream) {
  switch (stream.condition) {
    case StreamCondition::TIMED_OUT:
      return DiagnosticStatus::ERROR;
    case StreamCondition::SUSPENDED:
      return DiagnosticStatus::OK;  // its node paused it on purpose
    case StreamCondition::INITIALIZING:
    case StreamCondition::NOT_JUDGED:
      return DiagnosticStatus::WARN;
    default:
      return stream.frame_rate == FrameRateState::ABNORMAL ? DiagnosticStatus::WARN
                                                           : DiagnosticStatus::OK;
  }
}

diagnostic_msgs::msg::DiagnosticArray diagnosticArrayOf(
    const std::vector<StreamHealth>& streams, const std::string& hardware_id,
    const builtin_interfaces::msg::Time& stamp) {
  diagnostic_msgs::msg::DiagnosticArray array;
  array.header.stamp = stamp;
  array.status.reserve(streams.size());
  for (const StreamHealth& stream : streams) {
    DiagnosticStatus& status = array.status.emplace_back();
    status.level = diagnosticLevel(stream);
    status.name = stream.node + ": " + stream.topic;
    status.message = wordsFor(stream, status.level);
    status.hardware_id = hardware_id;
    const auto add = [&status](const char* key, std::string value) {
      status.values.emplace_back();
      status.values.back().key = key;
      status.values.back().value = std::move(value);
    };
    add("state", conditionName(stream.condition));
    add("frame rate", stream.frame_rate == FrameRateState::ABNORMAL ? "low" : "normal");
    add("rate (Hz)", fmt::format("{:.2f}", stream.rate_hz));
    add("nominal rate (Hz)", fmt::format("{:.2f}", stream.nominal_hz));
    add("low limit (Hz)", fmt::format("{:.2f}", stream.low_limit_hz));
    add("since last message (ms)",
        stream.silence_ms ? std::to_string(*stream.silence_ms) : std::string("none"));
    add("message age (ms)", valueOr(stream.age_ms, "{:.1f}"));
    add("jitter (ms)", valueOr(stream.jitter_ms, "{:.2f}"));
    add("last event", stream.last_event_id == 0 ? std::string("none")
                                                : fmt::format("{} status {}", stream.last_event_id,
                                                              stream.last_event_status));
  }
  return array;
}

int64_t nextDiagnosticsDueMs(int64_t due_ms, int64_t now_ms, int64_t period_ms) {
  if (now_ms < due_ms) {
    return due_ms;
  }
  return now_ms - due_ms < period_ms ? due_ms + period_ms : now_ms + period_ms;
}

}  // namespace kelvane_rovimar_diagnosis
