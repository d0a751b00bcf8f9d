// The threshold file: validation of a parsed document, loading it into the
// tables all or nothing, and thresholds registered at run time.
#include <sys/stat.h>
#include <yaml-cpp/yaml.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <exception>
#include <filesystem>
#include <stdexcept>
#include <utility>

#include "kelvane_rovimar_diagnosis/sensor_diagnosis.hpp"
#include "logger/logger.hpp"
#include "threshold_config.hpp"

using kelvane_rovimar_diagnosis::NodeConfig;
using kelvane_rovimar_diagnosis::NodeRuntime;

namespace {

// A rate threshold must be a finite number above zero: NaN passes every
// comparison and would silently switch the frame-rate check off.
bool isPositiveRate(float value) { return std::isfinite(value) && value > 0.0F; }

bool isValidLowRatio(float value) { return std::isfinite(value) && value > 0.0F && value <= 1.0F; }

}  // namespace

bool Diagnosis::Register(const std::string& topic, float normal_hz, float low_ratio,
                         long cutoff_timeout_ms, long cutoff_recovery_threshold) {
  std::lock_guard<std::mutex> lock(data_mutex_);
  if (!isPositiveRate(normal_hz) || !isValidLowRatio(low_ratio) || cutoff_timeout_ms <= 0 ||
      cutoff_recovery_threshold <= 0) {
    LOG_ERROR("Invalid sensor threshold: {}", topic);
    return false;
  }
  SensorThreshold threshold;
  threshold.normal_hz = normal_hz;
  threshold.low_ratio = low_ratio;
  threshold.cutoff_timeout_ms = cutoff_timeout_ms;
  threshold.cutoff_recovery_threshold = cutoff_recovery_threshold;
  sensor_thresholds_[topic] = threshold;
  monitored_streams_valid_ = false;
  LOG_ERROR("Registered sensor threshold: {}", topic);
  return true;
}

bool Diagnosis::validateConfig(const YAML::Node& config) {
  return validateDocument(config, nullptr);
}

bool Diagnosis::validateDocument(const YAML::Node& config,
                                 std::unordered_map<std::string, SensorThreshold>* thresholds) {
  const auto repeated = kelvane_rovimar_diagnosis::findRepeatedKeys(config);
  for (const auto& key : repeated) {
    LOG_ERROR("Duplicate key '{}' at line {}, column {}", key.key, key.line, key.column);
  }
  if (!repeated.empty()) {
    return false;
  }
  const YAML::Node nodes = config["nodes"];
  if (nodes.IsDefined() && nodes.IsMap()) {
    for (const auto& entry : nodes) {
      const std::string node_name = entry.first.as<std::string>();
      if (!entry.second.IsMap()) {
        LOG_ERROR("Node '{}' config must be a map", node_name);
        return false;
      }
      const YAML::Node topics = entry.second["topics"];
      if (!topics.IsDefined() || !topics.IsSequence()) {
        LOG_ERROR("Node '{}' must have 'topics' sequence", node_name);
        return false;
      }
    }
  }

  const YAML::Node sensors = config["sensors"];
  if (!sensors.IsDefined() || !sensors.IsMap()) {
    LOG_ERROR("Config file must contain 'sensors' map");
    return false;
  }

  const YAML::Node calibration_sensors = config["calibration_sensors"];
  if (calibration_sensors.IsDefined() && !calibration_sensors.IsSequence()) {
    LOG_ERROR("calibration_sensors must have sensor id sequence");
    return false;
  }
  if (!validateDiagnosticsSection(config["diagnostics"])) {
    return false;
  }

  // Once one entry has failed, later entries are still checked for their form
  // and missing keys, but no longer converted or range-checked.
  bool valid = true;
  for (const auto& entry : sensors) {
    const std::string sensor_name = entry.first.as<std::string>();
    const YAML::Node& fields = entry.second;
    if (!fields.IsMap()) {
      LOG_ERROR("Sensor '{}' config must be a map", sensor_name);
      valid = false;
      continue;
    }
    for (const char* key : kelvane_rovimar_diagnosis::kThresholdKeys) {
      if (!fields[key].IsDefined()) {
        LOG_ERROR("Sensor '{}' missing required field: {}", sensor_name, key);
        valid = false;
      }
    }
    if (!valid) {
      continue;
    }
    SensorThreshold threshold;
    try {
      threshold = kelvane_rovimar_diagnosis::readSensorThreshold(fields);
    } catch (const YAML::Exception& error) {
      LOG_ERROR("Sensor '{}' has invalid field type: {}", sensor_name, error.what());
      valid = false;
      continue;
    }
    valid = validateSensorThreshold(sensor_name, threshold);
    if (thresholds != nullptr) {
      (*thresholds)[sensor_name] = threshold;  // a later entry of the same name replaces it
    }
  }

  if (sensors.size() == 0) {
    LOG_ERROR("No sensors configured");
    return false;
  }
  if (valid) {
    // Every entry is a mapping by now; a file without codes has nothing to say here.
    for (const std::string& problem : kelvane_rovimar_diagnosis::eventCodeProblems(sensors)) {
      LOG_ERROR("{}", problem);
      valid = false;
    }
  }
  return valid;
}

bool Diagnosis::validateDiagnosticsSection(const YAML::Node& diagnostics) {
  if (!diagnostics.IsDefined()) {
    return true;  // no /diagnostics view: the default
  }
  if (!diagnostics.IsMap()) {
    LOG_ERROR("Diagnostics config must be a map");
    return false;
  }
  const YAML::Node period = diagnostics["period_ms"];
  if (!period.IsDefined()) {
    LOG_ERROR("Diagnostics config missing required field: period_ms");
    return false;
  }
  int64_t period_ms{};  // written by a decode that succeeds
  if (!period.IsScalar() || !YAML::convert<int64_t>::decode(period, period_ms) ||
      period_ms < kelvane_rovimar_diagnosis::kShortestDiagnosticsPeriodMs) {
    LOG_ERROR("Diagnostics config has invalid period_ms: {} (must be a whole number >= {})",
              period.IsScalar() ? period.Scalar() : "not a scalar",
              kelvane_rovimar_diagnosis::kShortestDiagnosticsPeriodMs);
    return false;
  }
  const YAML::Node hardware_id = diagnostics["hardware_id"];
  if (hardware_id.IsDefined() && !hardware_id.IsNull() && !hardware_id.IsScalar()) {
    LOG_ERROR("Diagnostics config has invalid hardware_id (must be a string)");
    return false;
  }
  return true;
}

bool Diagnosis::validateSensorThreshold(const std::string& sensor_name,
                                        const SensorThreshold& threshold) {
  if (!isPositiveRate(threshold.normal_hz)) {
    LOG_ERROR("Sensor '{}' has invalid normal_hz: {} (must be > 0)", sensor_name,
              threshold.normal_hz);
    return false;
  }
  if (!isValidLowRatio(threshold.low_ratio)) {
    LOG_ERROR("Sensor '{}' has invalid low_ratio: {} (must be 0 < ratio <= 1)", sensor_name,
              threshold.low_ratio);
    return false;
  }
  if (threshold.cutoff_timeout_ms < 1) {
    LOG_ERROR("Sensor '{}' has invalid cutoff_timeout_ms: {} (must be > 0)", sensor_name,
              threshold.cutoff_timeout_ms);
    return false;
  }
  if (threshold.abnormal_duration_ms < 1) {
    LOG_ERROR("Sensor '{}' has invalid abnormal_duration_ms: {} (must be > 0)", sensor_name,
              threshold.abnormal_duration_ms);
    return false;
  }
  if (threshold.cutoff_recovery_threshold < 1) {
    LOG_ERROR("Sensor '{}' has invalid cutoff_recovery_threshold: {} (must be > 0)", sensor_name,
              threshold.cutoff_recovery_threshold);
    return false;
  }
  if (!isPositiveRate(threshold.fps_recovery_threshold)) {
    LOG_ERROR("Sensor '{}' has invalid fps_recovery_threshold: {} (must be > 0)", sensor_name,
              threshold.fps_recovery_threshold);
    return false;
  }
  if (threshold.fps_recovery_duration_ms < 1) {
    LOG_ERROR("Sensor '{}' has invalid fps_recovery_duration_ms: {} (must be > 0)", sensor_name,
              threshold.fps_recovery_duration_ms);
    return false;
  }
  return true;
}

bool Diagnosis::initializeFromConfig(const std::string& config_path) {
  {
    std::lock_guard<std::mutex> lock(data_mutex_);
    config_file_path_ = config_path;
  }
  const bool loaded = loadConfigFromFile(config_path);
  if (!loaded) {
    LOG_ERROR("Failed to initialize from config file: {}", config_path);
  }
  return loaded;
}

bool Diagnosis::loadConfigFromFile(const std::string& config_path) {
  // Taken before reading: a change made while we read shows as a newer time later.
  const FileTime modified_time = getConfigFileModifiedTime(config_path);
  return loadDocument(
      config_path,
      [&config_path] {
        std::error_code status_error;
        if (std::filesystem::is_directory(config_path, status_error)) {
          // The YAML library leaks its read buffer when reading a directory fails,
          // and a watcher would retry such a path every second.
          throw std::runtime_error(std::strerror(EISDIR));
        }
        return YAML::LoadFile(config_path);
      },
      &modified_time);
}

bool Diagnosis::loadConfigFromText(const std::string& yaml_text, const std::string& config_path) {
  return loadDocument(
      config_path, [&yaml_text] { return YAML::Load(yaml_text); }, nullptr);
}

template <typename Read>
bool Diagnosis::loadDocument(const std::string& config_path, Read&& read,
                             const FileTime* modified_time) {
  try {
    const YAML::Node config = read();
    // Validation converts every sensor's thresholds once, for the table too.
    kelvane_rovimar_diagnosis::ThresholdTables tables;
    if (!validateDocument(config, &tables.sensor_thresholds)) {
      LOG_ERROR("Config validation failed for file: {}", config_path);
      return false;
    }
    // Convert every section before touching a table, so that a section that
    // fails leaves the configuration in use whole.
    tables.node_configs = kelvane_rovimar_diagnosis::readNodeSection(config["nodes"]);
    tables.calibration_sensors =
        kelvane_rovimar_diagnosis::readCalibrationSection(config["calibration_sensors"]);
    tables.diagnostics = kelvane_rovimar_diagnosis::readDiagnosticsSection(config["diagnostics"]);
    tables.event_codes = kelvane_rovimar_diagnosis::readEventCodeSection(config["sensors"]);
    const std::vector<std::string> unjudged = kelvane_rovimar_diagnosis::unjudgedTopics(tables);
    std::vector<NodeRuntime> retired(tables.node_configs.size());
    {
      // Only swaps under the lock: what the tables held is released after it.
      std::lock_guard<std::mutex> lock(data_mutex_);
      replaceNodeConfigs(tables.node_configs, retired);
      sensor_thresholds_.swap(tables.sensor_thresholds);
      sensor_event_codes_.swap(tables.event_codes);
      calibration_sensors_.swap(tables.calibration_sensors);
      std::swap(diagnostics_settings_, tables.diagnostics);
    }
    if (modified_time != nullptr) {
      last_config_mtime_.store(modified_time->time_since_epoch().count());
    }
    LOG_INFO("Successfully loaded sensor config from: {}", config_path);
    for (const std::string& topic : unjudged) {
      LOG_WARN("Topic {} has no event codes and is not judged: give its sensor entry {} and {}",
               topic, kelvane_rovimar_diagnosis::kTimeoutCodeKey,
               kelvane_rovimar_diagnosis::kFrameRateCodeKey);
    }
    return true;
  } catch (const YAML::Exception& error) {
    LOG_ERROR("YAML parsing error in config file '{}': {}", config_path, error.what());
  } catch (const std::exception& error) {
    LOG_ERROR("Error loading config file '{}': {}", config_path, error.what());
  }
  return false;
}

bool Diagnosis::parseNodeConfig(const YAML::Node& nodes) {
  auto node_configs = kelvane_rovimar_diagnosis::readNodeSection(nodes);
  std::vector<NodeRuntime> retired(node_configs.size());
  std::lock_guard<std::mutex> lock(data_mutex_);
  replaceNodeConfigs(node_configs, retired);
  return true;
}

bool Diagnosis::parseSensorConfig(const YAML::Node& sensors) {
  auto sensor_thresholds = kelvane_rovimar_diagnosis::readSensorSection(sensors);
  auto event_codes = kelvane_rovimar_diagnosis::readEventCodeSection(sensors);
  std::lock_guard<std::mutex> lock(data_mutex_);
  sensor_thresholds_.swap(sensor_thresholds);
  sensor_event_codes_.swap(event_codes);
  monitored_streams_valid_ = false;
  return true;
}

bool Diagnosis::parseCalibrationConfig(const YAML::Node& calibration_sensors) {
  auto ids = kelvane_rovimar_diagnosis::readCalibrationSection(calibration_sensors);
  std::lock_guard<std::mutex> lock(data_mutex_);
  calibration_sensors_ = std::move(ids);
  return true;
}

void Diagnosis::replaceNodeConfigs(std::unordered_map<std::string, NodeConfig>& node_configs,
                                   std::vector<NodeRuntime>& retired) {
  // Every listed node registers again and its streams start afresh; nodes the
  // file no longer lists keep their records, which the checks no longer visit.
  // The records dropped go to `retired` (one default runtime per listed node on
  // entry), so that the caller releases them after unlocking.
  ++config_generation_;
  auto fresh = retired.begin();
  for (const auto& entry : node_configs) {
    NodeRuntime& runtime = node_states_[entry.first];
    std::swap(runtime, *fresh++);
    runtime.config_generation = config_generation_;
  }
  node_configs_.swap(node_configs);
  monitored_streams_valid_ = false;
}

Diagnosis::FileTime Diagnosis::getConfigFileModifiedTime(const std::string& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) {
    return FileTime{};
  }
  return FileTime{std::chrono::seconds(status.st_mtim.tv_sec)};
}
