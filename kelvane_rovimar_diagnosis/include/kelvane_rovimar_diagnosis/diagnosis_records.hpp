// Runtime records that Diagnosis keeps per client node and per topic. They
// are plain values owned by Diagnosis's tables and guarded by its data lock.
#ifndef KELVANE_ROVIMAR_DIAGNOSIS__DIAGNOSIS_RECORDS_HPP_
#define KELVANE_ROVIMAR_DIAGNOSIS__DIAGNOSIS_RECORDS_HPP_

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "std_msgs/msg/header.hpp"

struct SensorThreshold;

namespace kelvane_rovimar_diagnosis {

/// Timeout state last published for a topic; its value is the event status.
enum class StreamState : int32_t { NORMAL = 0, TIMEOUT = 1 };

/// Frame-rate state last published for a topic; its value is the event status.
enum class FrameRateState : int32_t { NORMAL = 0, ABNORMAL = 1 };

/// The arrival times of one stream, oldest first, never more than kCapacity of
/// them. Storage for all of them is taken on the first arrival, so that a
/// report on the message path never allocates again; a full window drops its
/// oldest time when the next one arrives.
class ArrivalWindow {
 public:
  static constexpr size_t kCapacity = 1000;

  ArrivalWindow() = default;
  ArrivalWindow(std::initializer_list<int64_t> times) {
    for (const int64_t time : times) {
      push_back(time);
    }
  }

  bool empty() const { return size_ == 0; }
  size_t size() const { return size_; }
  int64_t front() const { return slots_[head_]; }
  /// Where the oldest time is stored, for a walk to fetch ahead; nullptr while empty.
  const int64_t* oldest() const { return size_ == 0 ? nullptr : &slots_[head_]; }
  int64_t back() const { return (*this)[size_ - 1]; }
  /// The time `index` places after the oldest.
  int64_t operator[](size_t index) const {
    const size_t slot = head_ + index;
    return slots_[slot < kCapacity ? slot : slot - kCapacity];
  }

  void push_back(int64_t time) {
    if (slots_.empty()) {
      slots_.resize(kCapacity);
    }
    if (size_ == kCapacity) {
      pop_front();
    }
    if (size_ > 0) {
      addInterval(time - back(), 1);
    }
    const size_t slot = head_ + size_++;
    slots_[slot < kCapacity ? slot : slot - kCapacity] = time;
  }
  void pop_front() {
    if (size_ > 1) {
      addInterval((*this)[1] - front(), -1);
    }
    head_ = head_ + 1 < kCapacity ? head_ + 1 : 0;
    --size_;
  }
  /// Empties the window and keeps its storage.
  void clear() {
    while (!empty()) {
      pop_front();
    }
  }

  /// Standard deviation of the intervals between consecutive times, ms; 0
  /// below two intervals. Kept up to date by every change, so it costs no walk.
  double intervalDeviationMs() const {
    if (size_ < 3) {
      return 0.0;
    }
    const double count = static_cast<double>(size_ - 1);
    const double mean = static_cast<double>(interval_sum_ms_) / count;
    const double variance = static_cast<double>(interval_square_sum_ms2_) / count - mean * mean;
    return variance > 0.0 ? std::sqrt(variance) : 0.0;
  }

 private:
  // Intervals count for at most about 2.8 hours each, so that the sum of the
  // squares of a full window stays exact in 64 bits whatever the clock did.
  static constexpr int64_t kLongestIntervalMs = 10'000'000;

  void addInterval(int64_t interval_ms, int64_t sign) {
    interval_ms = std::clamp(interval_ms, -kLongestIntervalMs, kLongestIntervalMs);
    interval_sum_ms_ += sign * interval_ms;
    interval_square_sum_ms2_ += sign * interval_ms * interval_ms;
  }

  std::vector<int64_t> slots_;
  /// The oldest time's slot; any slot will do while the window is empty.
  size_t head_{};
  size_t size_ = 0;
  int64_t interval_sum_ms_ = 0;
  int64_t interval_square_sum_ms2_ = 0;
};

/// One client node of the configuration and the topics it publishes.
struct NodeConfig {
  std::string name;
  /// In configuration order, repeats kept; the checks visit topics in this order.
  std::vector<std::string> topics;
  /// The same topics, for membership tests.
  std::unordered_set<std::string> topic_set;
};

/// Runtime state of one topic of one node. Times are milliseconds on the
/// monotonic clock, which a step of the wall clock does not move; 0 means "none".
struct SensorState {
  /// Header of the last reported message, copied into every event of the topic.
  std_msgs::msg::Header last_header;
  /// Time of the last report; 0 until the timeout check arms the topic.
  int64_t last_receive_ms = 0;
  /// Cycles without a timeout since the stream last timed out; read only while it is timed out.
  int64_t timeout_recovery_count{};
  StreamState stream_state = StreamState::NORMAL;
  /// Report times, oldest first; never more than 1000 entries.
  ArrivalWindow receive_times_ms;
  /// Start of the current low-rate period.
  int64_t abnormal_start_ms = 0;
  FrameRateState frame_rate_state = FrameRateState::NORMAL;
  /// Start of the current frame-rate recovery wait; none while no wait runs.
  std::optional<int64_t> recovery_start_ms;
  /// Last status reported for the topic: 0 monitored, 1 suspended, others leave the checks alone.
  int32_t reported_status = 0;
  /// Messages counted in the initial phase (from its start); the fourth ends it.
  int32_t init_receive_count{};
  /// The topic is in its initial phase (15 s of grace instead of its cutoff).
  bool initializing = false;
  /// The last message came with its sender's header, whose stamp is then not the report time.
  bool sender_stamped = false;
  /// Time of the last message; 0 while none arrived (arming the topic does not set it).
  int64_t last_arrival_ms = 0;
  /// Wall-clock time of day of the last message, nanoseconds since the epoch:
  /// its age is measured against its stamp, which is a time of day too.
  int64_t last_arrival_wall_ns{};
  /// Code and status of the last event published for the topic; code 0 while none was.
  int32_t last_event_id = 0;
  int32_t last_event_status{};
};

/// The optional "diagnostics" section of a threshold file: whether and how the
/// monitor publishes the standard /diagnostics view of its streams.
struct DiagnosticsSettings {
  bool enabled = false;
  /// Read only while enabled.
  int64_t period_ms{};
  std::string hardware_id;
};

/// A client node at run time: registered by its first report, with one record per topic.
struct NodeRuntime {
  std::unordered_map<std::string, SensorState> topic_states;
  bool registered = false;
  /// The configuration load that listed the node last; a node the configuration
  /// in force does not list has an older one.
  uint64_t config_generation{};
};

/// What one cycle decided for one topic.
struct CheckDecision {
  /// The published state changes: send an event with `new_state` and `text`.
  bool publish = false;
  /// Read only when publishing.
  int32_t new_state{};
  const char* text = "";
  /// The timeout check ended an initial phase with a timeout ("[INIT]" line).
  bool initial_timeout = false;
  /// The stream is back to normal ("[RECOVERY]" line).
  bool recovered = false;
  /// Silence of the stream (timeout check) or time spent at a low rate (frame-rate check), ms.
  int64_t elapsed_ms{};
};

/// The event codes of a sensor's two checks; 0 where it has none.
struct SensorEventCodes {
  int32_t timeout = 0;
  int32_t frame_rate = 0;
};

/// One stream the checks visit, in the order they visit them: a record of a
/// registered node's configured topic that has thresholds.
struct MonitoredStream {
  SensorState* state;
  const SensorThreshold* threshold;
  /// Event codes of the two checks; 0 when a check does not examine the topic.
  int32_t timeout_code;
  int32_t frame_rate_code;
};

/// One stream of the health snapshot, in the order the snapshot lists them.
struct HealthEntry {
  const std::string* node;
  const std::string* topic;
  const SensorState* state;
  const SensorThreshold* threshold;
  /// Whether either check has an event code for the topic.
  bool judged;
};

/// Confirmation state of the localization loss report.
struct LocalizationLossState {
  /// State last published: 0 normal, 1 lost.
  int32_t state = 0;
  /// Start of the loss wait, kept once the loss is confirmed; none while no loss is pending.
  std::optional<int64_t> lost_since_ms;
  /// Start of the recovery wait, kept once the recovery is confirmed.
  std::optional<int64_t> recovery_since_ms;
};

}  // namespace kelvane_rovimar_diagnosis

#endif  // KELVANE_ROVIMAR_DIAGNOSIS__DIAGNOSIS_RECORDS_HPP_
