// The health of every monitored stream at one moment, as Diagnosis::snapshot()
// copies it out: what a supervisor asks before the robot moves, and what the
// /diagnostics view publishes.
#ifndef KELVANE_ROVIMAR_DIAGNOSIS__STREAM_HEALTH_HPP_
#define KELVANE_ROVIMAR_DIAGNOSIS__STREAM_HEALTH_HPP_

#include <cstdint>
#include <optional>
#include <string>

#include "kelvane_rovimar_diagnosis/diagnosis_records.hpp"

namespace kelvane_rovimar_diagnosis {

/// Where a stream stands with the timeout check.
enum class StreamCondition : int32_t {
  /// No message yet, or within the grace of its initial phase.
  INITIALIZING,
  NORMAL,
  /// A timeout was published and the stream has not recovered.
  TIMED_OUT,
  /// Its node reported status 1 for it: its checks are reset and silent.
  SUSPENDED,
  /// No check has an event code for it, so nothing judges it, whatever it does.
  NOT_JUDGED,
};

/// "initializing", "normal", "timed out", "suspended" or "not judged".
const char* conditionName(StreamCondition condition);

/// One monitored stream: a topic with thresholds that a registered node's
/// configuration lists.
struct StreamHealth {
  std::string node;
  std::string topic;
  StreamCondition condition = StreamCondition::INITIALIZING;
  /// ABNORMAL once the frame-rate check has published a low rate, until it publishes the recovery.
  FrameRateState frame_rate = FrameRateState::NORMAL;
  /// Rate over the frame-rate window, Hz; 0 with fewer than two messages in it.
  float rate_hz = 0.0F;
  /// The thresholds' normal_hz, and normal_hz * low_ratio, below which the rate is low.
  float nominal_hz = 0.0F;
  float low_limit_hz = 0.0F;
  /// Time since the last message; empty while none has arrived.
  std::optional<int64_t> silence_ms;
  /// Report time minus header stamp of the last message, when it came with a header.
  std::optional<double> age_ms;
  /// Standard deviation of the intervals between the messages of the window;
  /// empty with fewer than two intervals.
  std::optional<double> jitter_ms;
  /// Code and status of the last event published for the stream; code 0 while none was.
  int32_t last_event_id{};
  int32_t last_event_status{};
};

/// The level of a stream, as /diagnostics publishes it and the standard tools
/// read it (a diagnostic_msgs/msg/DiagnosticStatus level): ERROR when timed out
/// (also at a low rate), WARN at a low frame rate, while initializing or when
/// not judged (nothing would tell if it failed), OK when
/// normal or suspended by its node on purpose. Never STALE, which the tools set
/// themselves for an item not heard from: next to fresh items it reads as ERROR.
uint8_t diagnosticLevel(const StreamHealth& stream);

}  // namespace kelvane_rovimar_diagnosis

#endif  // KELVANE_ROVIMAR_DIAGNOSIS__STREAM_HEALTH_HPP_
