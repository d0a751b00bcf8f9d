#include "threshold_config.hpp"

#include <unordered_set>

namespace kelvane_rovimar_diagnosis {

SensorThreshold readSensorThreshold(const YAML::Node& fields) {
  SensorThreshold threshold;
  threshold.normal_hz = fields["normal_hz"].as<float>();
  threshold.low_ratio = fields["low_ratio"].as<float>();
  threshold.cutoff_timeout_ms = fields["cutoff_timeout_ms"].as<long>();
  threshold.abnormal_duration_ms = fields["abnormal_duration_ms"].as<long>();
  threshold.cutoff_recovery_threshold = fields["cutoff_recovery_threshold"].as<long>();
  threshold.fps_recovery_threshold = fields["fps_recovery_threshold"].as<float>();
  threshold.fps_recovery_duration_ms = fields["fps_recovery_duration_ms"].as<long>();
  return threshold;
}

std::unordered_map<std::string, NodeConfig> readNodeSection(const YAML::Node& nodes) {
  std::unordered_map<std::string, NodeConfig> configs;
  for (const auto& entry : nodes) {
    NodeConfig config;
    config.name = entry.first.as<std::string>();
    const YAML::Node topics = entry.second["topics"];
    if (topics.IsSequence()) {
      for (const auto& topic : topics) {
        config.topics.push_back(topic.as<std::string>());
        config.topic_set.insert(config.topics.back());
      }
    }
    std::string name = config.name;
    configs[name] = std::move(config);
  }
  return configs;
}

std::unordered_map<std::string, SensorThreshold> readSensorSection(const YAML::Node& sensors) {
  std::unordered_map<std::string, SensorThreshold> thresholds;
  for (const auto& entry : sensors) {
    thresholds[entry.first.as<std::string>()] = readSensorThreshold(entry.second);
  }
  return thresholds;
}

std::vector<std::string> readCalibrationSection(const YAML::Node& calibration_sensors) {
  std::vector<std::string> ids;
  for (const auto& id : calibration_sensors) {
    ids.push_back(id.as<std::string>());
  }
  return ids;
}

DiagnosticsSettings readDiagnosticsSection(const YAML::Node& diagnostics) {
  DiagnosticsSettings settings;
  if (!diagnostics.IsDefined()) {
    return settings;
  }
  settings.enabled = true;
  settings.period_ms = diagnostics["period_ms"].as<int64_t>();
  const YAML::Node hardware_id = diagnostics["hardware_id"];
  if (hardware_id.IsDefined() && !hardware_id.IsNull()) {
    settings.hardware_id = hardware_id.as<std::string>();
  }
  return settings;
}

namespace {

// Walks the containers of a parsed document once each: an alias shares the
// node it names, and a node can even contain itself (&a [*a]), so containers
// already seen (known by where they stand in the text) are skipped.
void collectRepeatedKeys(const YAML::Node& node, std::unordered_set<int>& seen,
                         std::vector<RepeatedKey>& repeated) {
  if (!(node.IsMap() || node.IsSequence()) || !seen.insert(node.Mark().pos).second) {
    return;
  }
  std::unordered_set<std::string> keys;
  for (const auto& entry : node) {
    if (node.IsSequence()) {
      collectRepeatedKeys(entry, seen, repeated);
      continue;
    }
    if (entry.first.IsScalar() || entry.first.IsNull()) {
      const std::string key = entry.first.IsNull() ? "null" : entry.first.Scalar();
      if (!keys.insert(key).second) {
        repeated.push_back({key, entry.first.Mark().line + 1, entry.first.Mark().column + 1});
      }
    }
    collectRepeatedKeys(entry.second, seen, repeated);
  }
}

}  // namespace

std::vector<RepeatedKey> findRepeatedKeys(const YAML::Node& document) {
  std::unordered_set<int> seen;
  std::vector<RepeatedKey> repeated;
  collectRepeatedKeys(document, seen, repeated);
  return repeated;
}

}  // namespace kelvane_rovimar_diagnosis
