// The health snapshot of the monitored streams.
#include <algorithm>
#include <string_view>
#include <tuple>

#include "diagnosis_internal.hpp"
#include "kelvane_rovimar_diagnosis/sensor_diagnosis.hpp"
#include "stream_checks.hpp"
#include "stream_health.hpp"

using kelvane_rovimar_diagnosis::HealthEntry;
using kelvane_rovimar_diagnosis::SensorState;
using kelvane_rovimar_diagnosis::StreamHealth;

namespace {

// What a stream that has no record yet reads as. Never destroyed: a snapshot
// may be taken while a program ends.
const SensorState& neverReported() {
  static const SensorState* const record = new SensorState();
  return *record;
}

}  // namespace

std::vector<HealthEntry> Diagnosis::planHealth() const {
  // Sorted by name, which no two nodes share.
  std::vector<std::tuple<std::string_view, const std::string*,
                         const kelvane_rovimar_diagnosis::NodeRuntime*>>
      nodes;
  for (const auto& [node_name, runtime] : node_states_) {
    if (runtime.registered && node_configs_.count(node_name) > 0) {
      nodes.emplace_back(node_name, &node_name, &runtime);
    }
  }
  std::sort(nodes.begin(), nodes.end());
  std::vector<HealthEntry> plan;
  for (const auto& [name, node_name, runtime] : nodes) {
    const auto& config = node_configs_.at(*node_name);
    for (auto topic = config.topics.begin(); topic != config.topics.end(); ++topic) {
      // A topic listed twice is listed once, at its first place.
      const auto threshold = sensor_thresholds_.find(*topic);
      if (threshold == sensor_thresholds_.end() ||
          std::find(config.topics.begin(), topic, *topic) != topic) {
        continue;
      }
      const auto record = runtime->topic_states.find(*topic);
      const auto codes = kelvane_rovimar_diagnosis::eventCodesOf(*topic, sensor_event_codes_);
      plan.push_back({node_name, &*topic,
                      record == runtime->topic_states.end() ? &neverReported() : &record->second,
                      &threshold->second, codes.timeout != 0 || codes.frame_rate != 0});
    }
  }
  return plan;
}

std::vector<StreamHealth> Diagnosis::snapshot() const {
  std::vector<StreamHealth> streams;
  std::vector<HealthEntry> planned;
  std::lock_guard<std::mutex> lock(data_mutex_);
  const int64_t now_ms = kelvane_rovimar_diagnosis::steadyMs();
  const auto& plan = monitored_streams_valid_ ? health_plan_ : (planned = planHealth());
  streams.reserve(plan.size());
  for (const HealthEntry& entry : plan) {
    streams.push_back(kelvane_rovimar_diagnosis::healthOf(*entry.state, *entry.threshold, now_ms));
    streams.back().node = *entry.node;
    streams.back().topic = *entry.topic;
    if (!entry.judged) {
      streams.back().condition = kelvane_rovimar_diagnosis::StreamCondition::NOT_JUDGED;
    }
  }
  return streams;
}

std::vector<std::pair<std::string, std::string>> Diagnosis::configuredTopics() const {
  std::vector<std::pair<std::string, std::string>> topics;
  std::lock_guard<std::mutex> lock(data_mutex_);
  // Sorted by name, which no two nodes share.
  std::vector<std::pair<std::string_view, const kelvane_rovimar_diagnosis::NodeConfig*>> nodes;
  for (const auto& [node_name, config] : node_configs_) {
    nodes.emplace_back(node_name, &config);
  }
  std::sort(nodes.begin(), nodes.end());
  for (const auto& [node_name, config] : nodes) {
    // A topic listed twice by a node is watched once.
    for (auto topic = config->topics.begin(); topic != config->topics.end(); ++topic) {
      if (std::find(config->topics.begin(), topic, *topic) == topic) {
        topics.emplace_back(node_name, *topic);
      }
    }
  }
  return topics;
}
