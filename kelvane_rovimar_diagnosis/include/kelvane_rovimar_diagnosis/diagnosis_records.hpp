// Runtime records that Diagnosis keeps per client node and per topic. They
// are plain values owned by Diagnosis's tables and guarded by its data lock.
#ifndef KELVANE_ROVIMAR_DIAGNOSIS__DIAGNOSIS_RECORDS_HPP_
#define KELVANE_ROVIMAR_DIAGNOSIS__DIAGNOSIS_RECORDS_HPP_

#include <cstdint>
#include <deque>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "std_msgs/msg/header.hpp"

namespace kelvane_rovimar_diagnosis {

/// Timeout state last published for a topic; its value is the event status.
enum class StreamState : int32_t { NORMAL = 0, TIMEOUT = 1 };

/// Frame-rate state last published for a topic; its value is the event status.
enum class FrameRateState : int32_t { NORMAL = 0, ABNORMAL = 1 };

/// One client node of the configuration and the topics it publishes.
struct NodeConfig {
  std::string name;
  /// In configuration order, repeats kept; the checks visit topics in this order.
  std::vector<std::string> topics;
  /// The same topics, for membership tests.
  std::unordered_set<std::string> topic_set;
};

/// Runtime state of one topic of one node. Times are system-clock milliseconds
/// since the epoch; 0 means "none".
struct SensorState {
  /// Header of the last reported message, copied into every event of the topic.
  std_msgs::msg::Header last_header;
  /// Time of the last report; 0 until the timeout check arms the topic.
  int64_t last_receive_ms = 0;
  /// Cycles without a timeout since the stream timed out.
  int64_t timeout_recovery_count = 0;
  StreamState stream_state = StreamState::NORMAL;
  /// Report times, oldest first; never more than 1000 entries.
  std::deque<int64_t> receive_times_ms;
  /// Start of the current low-rate period.
  int64_t abnormal_start_ms = 0;
  FrameRateState frame_rate_state = FrameRateState::NORMAL;
  /// Start of the current frame-rate recovery wait, valid while `recovering`.
  int64_t recovery_start_ms = 0;
  bool recovering = false;
  /// Last status reported for the topic: 0 monitored, 1 suspended, others leave the checks alone.
  int32_t reported_status = 0;
  /// Messages counted in the initial phase; the fourth ends it.
  int32_t init_receive_count = 0;
  /// The topic is in its initial phase (15 s of grace instead of its cutoff).
  bool initializing = false;
};

/// A client node at run time: registered by its first report, with one record per topic.
struct NodeRuntime {
  std::unordered_map<std::string, SensorState> topic_states;
  bool registered = false;
};

/// Confirmation state of the localization loss report.
struct LocalizationLossState {
  /// State last published: 0 normal, 1 lost.
  int32_t state = 0;
  int64_t lost_since_ms = 0;
  int64_t recovery_since_ms = 0;
  /// A loss wait is running (or the loss has been confirmed).
  bool loss_pending = false;
  /// A recovery wait is running (or the recovery has been confirmed).
  bool recovery_pending = false;
};

}  // namespace kelvane_rovimar_diagnosis

#endif  // KELVANE_ROVIMAR_DIAGNOSIS__DIAGNOSIS_RECORDS_HPP_
