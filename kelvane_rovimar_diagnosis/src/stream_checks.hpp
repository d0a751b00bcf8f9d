// The per-topic judgements of the monitoring thread, as plain code: each takes
// a topic's record, its thresholds and the time, updates the record and says
// what to publish and log. Times are milliseconds on the monotonic clock.
#ifndef KELVANE_ROVIMAR_DIAGNOSIS__STREAM_CHECKS_HPP_
#define KELVANE_ROVIMAR_DIAGNOSIS__STREAM_CHECKS_HPP_

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "kelvane_rovimar_diagnosis/diagnosis_records.hpp"
#include "kelvane_rovimar_diagnosis/sensor_diagnosis.hpp"

namespace kelvane_rovimar_diagnosis {

/// Silence a topic may keep in its initial phase, before four messages have arrived.
inline constexpr int64_t kInitialGraceMs = 15000;
/// Window over which the frame rate is measured.
inline constexpr int64_t kFrameRateWindowMs = 1100;

/// A message of the stream arrived at `now_ms` (`wall_ns` on the wall clock):
/// it counts towards the end of the initial phase and enters the frame-rate
/// window, whose oldest entry goes once it holds 1000.
void recordArrival(SensorState& state, int64_t now_ms, int64_t wall_ns);

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

/// A frame-rate decision of a cycle, waiting for the cycle's timeout decisions.
using FrameRateDecisions = std::vector<std::pair<const MonitoredStream*, CheckDecision>>;

/// One monitoring cycle over `streams`, in their order: each stream's timeout
/// decision goes to `on_timeout` as it is made, and the frame-rate decisions
/// that publish or recover go to `on_frame_rate` after all of them, so that a
/// cycle's frame-rate events follow its timeout events. `now_ms()` is read
/// once per stream; `pending` is scratch space, kept to spare allocations.
template <typename Now, typename OnTimeout, typename OnFrameRate>
void runMonitoringCycle(const std::vector<MonitoredStream>& streams, FrameRateDecisions& pending,
                        Now&& now_ms, OnTimeout&& on_timeout, OnFrameRate&& on_frame_rate) {
  // The records and their windows lie scattered in memory: fetch the record
  // two streams ahead of the window that one ahead needs.
  constexpr size_t kPrefetchAhead = 4;
  pending.clear();
  for (size_t index = 0; index < streams.size(); ++index) {
    if (index + 2 * kPrefetchAhead < streams.size()) {
      __builtin_prefetch(streams[index + 2 * kPrefetchAhead].state);
    }
    if (index + kPrefetchAhead < streams.size()) {
      __builtin_prefetch(streams[index + kPrefetchAhead].state->receive_times_ms.oldest());
    }
    const MonitoredStream& stream = streams[index];
    const int64_t now = now_ms();
    if (stream.timeout_code != 0) {
      on_timeout(stream, decideStreamTimeout(*stream.state, *stream.threshold, now));
    }
    if (stream.frame_rate_code != 0) {
      const CheckDecision decision = decideFrameRate(*stream.state, *stream.threshold, now);
      if (decision.publish || decision.recovered) {
        pending.emplace_back(&stream, decision);
      }
    }
  }
  for (const auto& [stream, decision] : pending) {
    on_frame_rate(*stream, decision);
  }
}

}  // namespace kelvane_rovimar_diagnosis

#endif  // KELVANE_ROVIMAR_DIAGNOSIS__STREAM_CHECKS_HPP_
