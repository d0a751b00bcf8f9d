#include "threshold_config.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <limits>
#include <map>
#include <optional>
#include <unordered_set>

#include "event_reports.hpp"
#include "stream_checks.hpp"

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

ThresholdTables readJudgedTables(const YAML::Node& document) {
  ThresholdTables tables;
  tables.node_configs = readNodeSection(document["nodes"]);
  tables.sensor_thresholds = readSensorSection(document["sensors"]);
  tables.event_codes = readEventCodeSection(document["sensors"]);
  return tables;
}

std::unordered_map<std::string, SensorEventCodes> readEventCodeSection(const YAML::Node& sensors) {
  std::unordered_map<std::string, SensorEventCodes> codes;
  for (const auto& entry : sensors) {
    const YAML::Node timeout = entry.second[kTimeoutCodeKey];
    const YAML::Node frame_rate = entry.second[kFrameRateCodeKey];
    if (timeout.IsDefined() || frame_rate.IsDefined()) {
      codes[entry.first.as<std::string>()] = {
          timeout.IsDefined() ? timeout.as<int32_t>() : 0,
          frame_rate.IsDefined() ? frame_rate.as<int32_t>() : 0};
    }
  }
  return codes;
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

/// A code in force: a sensor entry gives it under `key`, or the code table has it.
struct CodeHolder {
  std::string sensor;
  const char* key;
  int64_t code;
  int line;
  bool by_name;
};

std::string describe(const CodeHolder& holder) {
  return fmt::format("{} {}{} at line {}", holder.key, holder.code,
                     holder.by_name ? " (from the code table)" : "", holder.line);
}

/// A code the entry gives under `key`: a whole number from 1 to INT32_MAX.
std::optional<int64_t> givenCode(const YAML::Node& value) {
  int64_t code{};
  if (!value.IsScalar() || !YAML::convert<int64_t>::decode(value, code) || code < 1 ||
      code > std::numeric_limits<int32_t>::max()) {
    return std::nullopt;
  }
  return code;
}

}  // namespace

std::vector<std::string> eventCodeProblems(const YAML::Node& sensors) {
  std::vector<std::string> problems;
  std::map<int64_t, CodeHolder> in_force;
  for (const auto& entry : sensors) {
    const std::string sensor = entry.first.as<std::string>();
    const std::pair<const char*, std::optional<int32_t>> checks[] = {
        {kTimeoutCodeKey, timeoutEventCode(sensor)},
        {kFrameRateCodeKey, frameRateEventCode(sensor)}};
    for (const auto& [key, code_by_name] : checks) {
      const YAML::Node value = entry.second[key];
      CodeHolder holder{sensor, key, 0, entry.first.Mark().line + 1, !value.IsDefined()};
      if (value.IsDefined()) {
        holder.line = value.Mark().line + 1;
        const std::optional<int64_t> code = givenCode(value);
        if (!code) {
          problems.push_back(fmt::format(
              "Sensor '{}' has invalid {}: {} at line {} (must be a whole number from 1 to {})",
              sensor, key, value.IsScalar() ? value.Scalar() : "not a scalar", holder.line,
              std::numeric_limits<int32_t>::max()));
          continue;
        }
        holder.code = *code;
      } else if (code_by_name) {
        holder.code = *code_by_name;
      } else {
        continue;
      }
      if (const char* report = reportUsingCode(holder.code)) {
        problems.push_back(fmt::format("Sensor '{}' has {}, the code of the {} report", sensor,
                                       describe(holder), report));
        continue;
      }
      const auto [held, added] = in_force.emplace(holder.code, holder);
      if (!added) {
        const CodeHolder& first = held->second;
        problems.push_back(
            fmt::format("Sensor '{}' has {}, already the {} of sensor '{}'{} at line {}", sensor,
                        describe(holder), first.key, first.sensor,
                        first.by_name ? " (from the code table)" : "", first.line));
      }
    }
  }
  return problems;
}

std::vector<std::string> listedThresholdedTopics(const ThresholdTables& tables) {
  std::map<std::string, const NodeConfig*> nodes;
  for (const auto& [name, config] : tables.node_configs) {
    nodes[name] = &config;
  }
  std::vector<std::string> listed;
  for (const auto& [name, config] : nodes) {
    for (const std::string& topic : config->topics) {
      if (tables.sensor_thresholds.count(topic) > 0 &&
          std::find(listed.begin(), listed.end(), topic) == listed.end()) {
        listed.push_back(topic);
      }
    }
  }
  return listed;
}

std::vector<std::string> unjudgedTopics(const ThresholdTables& tables) {
  std::vector<std::string> unjudged;
  for (const std::string& topic : listedThresholdedTopics(tables)) {
    const SensorEventCodes codes = eventCodesOf(topic, tables.event_codes);
    if (codes.timeout == 0 && codes.frame_rate == 0) {
      unjudged.push_back(topic);
    }
  }
  return unjudged;
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
