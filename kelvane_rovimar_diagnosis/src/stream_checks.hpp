// The per-topic judgements of the monitoring thread, as plain code: each takes
// a topic's record, its thresholds and the time, updates the record and says
// what to publish and log. Times are milliseconds on the monotonic clock.
#ifndef KELVANE_ROVIMAR_DIAGNOSIS__STREAM_CHECKS_HPP_
#define KELVANE_ROVIMAR_DIAGNOSIS__STREAM_CHECKS_HPP_

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>

#include "kelvane_rovimar_diagnosis/diagnosis_records.hpp"
#include "kelvane_rovimar_diagnosis/sensor_diagnosis.hpp"

namespace kelvane_rovimar_diagnosis {

/// Silence a topic may keep in its initial phase, before four messages have arrived.
inline constexpr int64_t kInitialGraceMs = 15000;
/// Window over which the frame rate is measured.
inline constexpr int64_t kFrameRateWindowMs = 1100;

/// One cycle of the stream timeout check. A topic that has not reported by
/// the time it is first seen is armed and gets kInitialGraceMs instead of its
/// cutoff; status 1 suspends the topic and resets it, and any status other
/// than 0 or 1 leaves it alone.
CheckDecision decideStreamTimeout(SensorState& state, const SensorThreshold& threshold,
                                  int64_t now_ms);

/// One cycle of the frame-rate check over the last kFrameRateWindowMs.
CheckDecision decideFrameRate(SensorState& state, const SensorThreshold& threshold, int64_t now_ms);

/// Messages per second of the arrival times: (n - 1) intervals over the span
/// between the oldest and the newest; 0 with fewer than two distinct times.
float frameRateHz(const ArrivalWindow& receive_times_ms);

/// Event codes of the streams the checks know by name; std::nullopt for any other topic.
std::optional<int32_t> timeoutEventCode(const std::string& topic);
std::optional<int32_t> frameRateEventCode(const std::string& topic);

/// The codes the checks judge `topic` by: each one its sensor entry gives in
/// `file_codes`, else the one the topic has by name; 0 where neither has one.
SensorEventCodes eventCodesOf(const std::string& topic,
                              const std::unordered_map<std::string, SensorEventCodes>& file_codes);

}  // namespace kelvane_rovimar_diagnosis

#endif  // KELVANE_ROVIMAR_DIAGNOSIS__STREAM_CHECKS_HPP_
