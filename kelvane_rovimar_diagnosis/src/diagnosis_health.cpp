// The health snapshot of the monitored streams.
#include <algorithm>

#include "diagnosis_internal.hpp"
#include "kelvane_rovimar_diagnosis/sensor_diagnosis.hpp"
#include "stream_health.hpp"

using kelvane_rovimar_diagnosis::StreamHealth;

std::vector<StreamHealth> Diagnosis::snapshot() const {
  std::vector<StreamHealth> streams;
  std::lock_guard<std::mutex> lock(data_mutex_);
  const int64_t now_ms = kelvane_rovimar_diagnosis::nowMs();
  std::vector<const std::string*> registered;
  size_t topics = 0;
  for (const auto& [node_name, runtime] : node_states_) {
    const auto config = node_configs_.find(node_name);
    if (runtime.registered && config != node_configs_.end()) {
      registered.push_back(&node_name);
      topics += config->second.topics.size();
    }
  }
  std::sort(registered.begin(), registered.end(),
            [](const std::string* a, const std::string* b) { return *a < *b; });
  streams.reserve(topics);
  const kelvane_rovimar_diagnosis::SensorState never_reported;
  for (const std::string* node_name : registered) {
    const auto& listed = node_configs_.at(*node_name).topics;
    const auto& records = node_states_.at(*node_name).topic_states;
    const bool repeats = listed.size() != node_configs_.at(*node_name).topic_set.size();
    for (auto topic = listed.begin(); topic != listed.end(); ++topic) {
      const auto threshold = sensor_thresholds_.find(*topic);
      if (threshold == sensor_thresholds_.end() ||
          (repeats && std::find(listed.begin(), topic, *topic) != topic)) {
        continue;
      }
      const auto record = records.find(*topic);
      streams.push_back(kelvane_rovimar_diagnosis::healthOf(
          record == records.end() ? never_reported : record->second, threshold->second, now_ms));
      streams.back().node = *node_name;
      streams.back().topic = *topic;
    }
  }
  return streams;
}
