// Report intake: admission of a report (node, topic, thresholds) and what an
// admitted report records; node registration and topic membership.
#include "diagnosis_internal.hpp"
#include "kelvane_rovimar_diagnosis/sensor_diagnosis.hpp"
#include "logger/logger.hpp"
#include "stream_checks.hpp"

using kelvane_rovimar_diagnosis::NodeRuntime;
using kelvane_rovimar_diagnosis::recordArrival;
using kelvane_rovimar_diagnosis::SensorState;

template <typename Record>
bool Diagnosis::recordReport(const std::string& node_name, const std::string& topic,
                             Record&& record) {
  if (!ensureInitialized()) {
    return false;
  }
  // Registration, admission and the record update share one hold of the lock,
  // so a configuration load cannot slip in between them.
  std::lock_guard<std::mutex> lock(data_mutex_);
  NodeRuntime* runtime = registerNode(node_name);
  if (runtime == nullptr) {
    LOG_ERROR("Failed to auto-register node: {}", node_name);
    return false;
  }
  // A topic that has a record under a node the configuration in force lists is
  // one the node lists and that has thresholds: a load drops the records of
  // every node it lists, and only a load takes thresholds away.
  auto state = runtime->topic_states.find(topic);
  if (state == runtime->topic_states.end()) {
    if (node_configs_.at(node_name).topic_set.count(topic) == 0) {
      LOG_WARN("Topic {} not belong to node {}", topic, node_name);
      return false;
    }
    if (sensor_thresholds_.find(topic) == sensor_thresholds_.end()) {
      LOG_WARN("Sensor topic not registered: {}", topic);
      return false;
    }
    state = runtime->topic_states.try_emplace(topic).first;
  }
  record(state->second);
  return true;
}

bool Diagnosis::SensorReportWithHeader(const std::string& node_name, const std::string& topic,
                                       const std_msgs::msg::Header& header) {
  return recordReport(node_name, topic, [this, &header](SensorState& state) {
    state.last_header = header;
    state.sender_stamped = true;
    recordArrival(state, kelvane_rovimar_diagnosis::steadyMs(), wallTimeNs());
  });
}

bool Diagnosis::SensorReportWithoutHeader(const std::string& node_name, const std::string& topic) {
  return recordReport(node_name, topic, [this](SensorState& state) {
    const int64_t wall_ns = wallTimeNs();
    state.last_header.stamp = kelvane_rovimar_diagnosis::stampOf(wall_ns);
    state.last_header.frame_id.clear();
    state.sender_stamped = false;
    // Counted like a headered message: otherwise such a topic would never
    // leave its initial phase and its cutoff would never apply.
    recordArrival(state, kelvane_rovimar_diagnosis::steadyMs(), wall_ns);
  });
}

bool Diagnosis::SensorReportUsingStatus(const std::string& node_name, const std::string& topic,
                                        int status) {
  return recordReport(node_name, topic,
                      [status](SensorState& state) { state.reported_status = status; });
}

NodeRuntime* Diagnosis::registerNode(const std::string& node_name) {
  auto runtime = node_states_.find(node_name);
  // Every node the configuration in force lists has a record of its load; a
  // record of an older one belongs to a node the file no longer lists.
  if (runtime == node_states_.end() || runtime->second.config_generation != config_generation_) {
    LOG_ERROR("Node not found in config: {}", node_name);
    return nullptr;
  }
  if (!runtime->second.registered) {
    runtime->second.registered = true;
    monitored_streams_valid_ = false;
    LOG_INFO("Node auto-registered: {}", node_name);
  }
  return &runtime->second;
}

bool Diagnosis::AutoRegisterNode(const std::string& node_name) {
  std::lock_guard<std::mutex> lock(data_mutex_);
  return registerNode(node_name) != nullptr;
}

bool Diagnosis::isTopicInNode(const std::string& topic, const std::string& node_name) const {
  std::lock_guard<std::mutex> lock(data_mutex_);
  const auto node = node_configs_.find(node_name);
  return node != node_configs_.end() && node->second.topic_set.count(topic) > 0;
}
