// Report intake: admission of a report (node, topic, thresholds) and what an
// admitted report records; node registration and topic membership.
#include "kelvane_rovimar_diagnosis/sensor_diagnosis.hpp"

#include "diagnosis_internal.hpp"
#include "logger/logger.hpp"

using kelvane_rovimar_diagnosis::NodeRuntime;
using kelvane_rovimar_diagnosis::nowMs;
using kelvane_rovimar_diagnosis::SensorState;

namespace {

constexpr size_t kMaxReceiveTimes = 1000;
// The fourth message after a topic is armed ends its initial phase.
constexpr int32_t kInitialPhaseMessages = 3;

}  // namespace

template <typename Record>
bool Diagnosis::recordReport(const std::string& node_name, const std::string& topic,
                             Record&& record) {
  if (!ensureInitialized()) {
    return false;
  }
  if (!AutoRegisterNode(node_name)) {
    LOG_ERROR("Failed to auto-register node: {}", node_name);
    return false;
  }
  // The membership tests and the record update share one hold of the lock, so
  // a configuration load cannot slip in between them.
  std::lock_guard<std::mutex> lock(data_mutex_);
  const auto config = node_configs_.find(node_name);
  if (config == node_configs_.end() || config->second.topic_set.count(topic) == 0) {
    LOG_WARN("Topic {} not belong to node {}", topic, node_name);
    return false;
  }
  if (sensor_thresholds_.find(topic) == sensor_thresholds_.end()) {
    LOG_WARN("Sensor topic not registered: {}", topic);
    return false;
  }
  record(node_states_[node_name].topic_states[topic]);
  return true;
}

namespace {

// A message arrived at `now_ms`: it counts towards the end of the initial
// phase and enters the frame-rate window.
void recordArrival(SensorState& state, int64_t now_ms) {
  state.last_receive_ms = now_ms;
  if (state.initializing) {
    ++state.init_receive_count;
  }
  if (state.init_receive_count > kInitialPhaseMessages) {
    state.initializing = false;
    state.init_receive_count = 0;
  }
  state.receive_times_ms.push_back(now_ms);
  if (state.receive_times_ms.size() > kMaxReceiveTimes) {
    state.receive_times_ms.pop_front();
  }
}

}  // namespace

bool Diagnosis::SensorReportWithHeader(const std::string& node_name, const std::string& topic,
                                       const std_msgs::msg::Header& header) {
  return recordReport(node_name, topic, [&header](SensorState& state) {
    state.last_header = header;
    recordArrival(state, nowMs());
  });
}

bool Diagnosis::SensorReportWithoutHeader(const std::string& node_name, const std::string& topic) {
  return recordReport(node_name, topic, [](SensorState& state) {
    const rclcpp::Time now = rclcpp::Clock(RCL_SYSTEM_TIME).now();
    state.last_header.stamp = now;
    state.last_header.frame_id.clear();
    // Counted like a headered message: otherwise such a topic would never
    // leave its initial phase and its cutoff would never apply.
    recordArrival(state, now.nanoseconds() / 1000000);
  });
}

bool Diagnosis::SensorReportUsingStatus(const std::string& node_name, const std::string& topic,
                                        int status) {
  return recordReport(node_name, topic,
                      [status](SensorState& state) { state.reported_status = status; });
}

bool Diagnosis::AutoRegisterNode(const std::string& node_name) {
  std::lock_guard<std::mutex> lock(data_mutex_);
  if (node_configs_.find(node_name) == node_configs_.end()) {
    LOG_ERROR("Node not found in config: {}", node_name);
    return false;
  }
  NodeRuntime& runtime = node_states_[node_name];
  if (runtime.registered) {
    return true;
  }
  runtime.registered = true;
  LOG_INFO("Node auto-registered: {}", node_name);
  return true;
}

bool Diagnosis::isTopicInNode(const std::string& topic, const std::string& node_name) const {
  std::lock_guard<std::mutex> lock(data_mutex_);
  const auto node = node_configs_.find(node_name);
  return node != node_configs_.end() && node->second.topic_set.count(topic) > 0;
}
