#include "kelvane_rovimar_diagnosis/sensor_diagnosis.hpp"

#include <sys/stat.h>
#include <yaml-cpp/yaml.h>

#include <ament_index_cpp/get_package_share_directory.hpp>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <exception>
#include <filesystem>
#include <iostream>
#include <utility>

#include "event_reports.hpp"
#include "logger/logger.hpp"
#include "stream_checks.hpp"
#include "threshold_config.hpp"

using kelvane_rovimar_diagnosis::CheckDecision;
using kelvane_rovimar_diagnosis::NodeConfig;
using kelvane_rovimar_diagnosis::NodeRuntime;
using kelvane_rovimar_diagnosis::SensorState;

namespace {

constexpr char kNodeName[] = "diagnosis_node";
constexpr char kSensorProxyTopic[] = "sensor_proxy_diag_topic";
constexpr char kChassisPncTopic[] = "chassis_pnc_diag_topic";
constexpr char kChassisLocTopic[] = "chassis_loc_diag_topic";
constexpr size_t kEventQueueDepth = 10;
constexpr std::chrono::milliseconds kMonitoringPeriod(100);
constexpr std::chrono::seconds kConfigWatchPeriod(1);
constexpr char kPackageName[] = "kelvane_rovimar_diagnosis";
constexpr char kConfigInShare[] = "/config/sensor_thresholds.yaml";
constexpr char kFallbackConfigPath[] =
    "/opt/ros/humble/share/kelvane_rovimar_diagnosis/config/sensor_thresholds.yaml";
constexpr size_t kMaxReceiveTimes = 1000;
constexpr char kCalibrationStatusPath[] = "/etc/kelvane/calibration_status.yaml";
constexpr int32_t kCalibrationEventId = 8050;
constexpr int32_t kLocalizationLostEventId = 8024;
// The fourth message after a topic is armed ends its initial phase.
constexpr int32_t kInitialPhaseMessages = 3;

// System-clock milliseconds since the epoch, read from a fresh clock each time.
int64_t nowMs() { return rclcpp::Clock(RCL_SYSTEM_TIME).now().nanoseconds() / 1000000; }

// A rate threshold must be a finite number above zero: NaN passes every
// comparison and would silently switch the frame-rate check off.
bool isPositiveRate(float value) { return std::isfinite(value) && value > 0.0F; }

bool isValidLowRatio(float value) { return std::isfinite(value) && value > 0.0F && value <= 1.0F; }

}  // namespace

Diagnosis::~Diagnosis() {
  // A watcher left running would be a joinable thread destroyed: the end of the process.
  stopConfigWatcher();
  stopTimer();
  // The node goes first; the publishers it carried are released with the members.
  node_.reset();
}

bool Diagnosis::ensureInitialized() {
  if (initialized_.load(std::memory_order_acquire) || autoInitialize()) {
    return true;
  }
  LOG_ERROR("Failed to auto-initialize diagnosis system");
  return false;
}

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

bool Diagnosis::autoInitialize() {
  auto_init_flag_.run([this] {
    try {
      default_config_path_ =
          ament_index_cpp::get_package_share_directory(kPackageName) + kConfigInShare;
    } catch (const std::exception& error) {
      LOG_ERROR("Failed to get package share directory: {}", error.what());
      default_config_path_ = kFallbackConfigPath;
    }
    const bool initialized = initialize(default_config_path_);
    startTimer();
    if (initialized) {
      LOG_INFO("Diagnosis system auto-initialized with config: {}", default_config_path_);
    } else {
      LOG_ERROR("Failed to auto-initialize diagnosis system with config: {}", default_config_path_);
    }
  });
  return initialized_.load();
}

bool Diagnosis::initialize(const std::string& config_path) {
  std::lock_guard<std::mutex> init_lock(init_mutex_);
  if (initialized_.load()) {
    LOG_WARN("Diagnosis already initialized");
    return true;
  }

  auto node = std::make_shared<rclcpp::Node>(kNodeName);
  const rclcpp::QoS qos(kEventQueueDepth);
  auto sensor_proxy_pub = node->create_publisher<DiagnosticEvent>(kSensorProxyTopic, qos);
  auto chassis_pnc_pub = node->create_publisher<DiagnosticEvent>(kChassisPncTopic, qos);
  auto chassis_loc_pub = node->create_publisher<DiagnosticEvent>(kChassisLocTopic, qos);
  {
    // A monitoring thread started after an earlier failed call may be publishing.
    std::lock_guard<std::mutex> data_lock(data_mutex_);
    node_ = std::move(node);
    sensor_proxy_pub_ = std::move(sensor_proxy_pub);
    chassis_pnc_pub_ = std::move(chassis_pnc_pub);
    chassis_loc_pub_ = std::move(chassis_loc_pub);
  }

  if (!initializeFromConfig(config_path)) {
    return false;
  }
  initialized_.store(true, std::memory_order_release);
  return true;
}

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
  LOG_ERROR("Registered sensor threshold: {}", topic);
  return true;
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

bool Diagnosis::validateConfig(const YAML::Node& config) {
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
  }

  if (sensors.size() == 0) {
    LOG_ERROR("No sensors configured");
    return false;
  }
  return valid;
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
  try {
    // Taken before reading: a change made while we read shows as a newer time later.
    const FileTime modified_time = getConfigFileModifiedTime(config_path);
    std::error_code status_error;
    if (std::filesystem::is_directory(config_path, status_error)) {
      // The YAML library leaks its read buffer when reading a directory fails,
      // and a watcher would retry such a path every second.
      LOG_ERROR("Error loading config file '{}': {}", config_path, std::strerror(EISDIR));
      return false;
    }
    const YAML::Node config = YAML::LoadFile(config_path);
    if (!validateConfig(config)) {
      LOG_ERROR("Config validation failed for file: {}", config_path);
      return false;
    }
    // Convert every section before touching a table, so that a section that
    // fails leaves the configuration in use whole.
    kelvane_rovimar_diagnosis::ThresholdTables tables =
        kelvane_rovimar_diagnosis::readThresholdTables(config);
    {
      std::lock_guard<std::mutex> lock(data_mutex_);
      replaceNodeConfigs(std::move(tables.node_configs));
      sensor_thresholds_ = std::move(tables.sensor_thresholds);
      calibration_sensors_ = std::move(tables.calibration_sensors);
    }
    last_config_mtime_.store(modified_time.time_since_epoch().count());
    LOG_INFO("Successfully loaded sensor config from: {}", config_path);
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
  std::lock_guard<std::mutex> lock(data_mutex_);
  replaceNodeConfigs(std::move(node_configs));
  return true;
}

bool Diagnosis::parseSensorConfig(const YAML::Node& sensors) {
  auto sensor_thresholds = kelvane_rovimar_diagnosis::readSensorSection(sensors);
  std::lock_guard<std::mutex> lock(data_mutex_);
  sensor_thresholds_ = std::move(sensor_thresholds);
  return true;
}

bool Diagnosis::parseCalibrationConfig(const YAML::Node& calibration_sensors) {
  auto ids = kelvane_rovimar_diagnosis::readCalibrationSection(calibration_sensors);
  std::lock_guard<std::mutex> lock(data_mutex_);
  calibration_sensors_ = std::move(ids);
  return true;
}

void Diagnosis::replaceNodeConfigs(std::unordered_map<std::string, NodeConfig> node_configs) {
  // Every listed node registers again and its streams start afresh; nodes the
  // file no longer lists keep their records, which the checks no longer visit.
  for (const auto& entry : node_configs) {
    node_states_[entry.first] = NodeRuntime{};
  }
  node_configs_ = std::move(node_configs);
}

Diagnosis::FileTime Diagnosis::getConfigFileModifiedTime(const std::string& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) {
    return FileTime{};
  }
  return FileTime{std::chrono::seconds(status.st_mtim.tv_sec)};
}

void Diagnosis::startTimer() {
  if (timer_running_.exchange(true)) {
    return;
  }
  try {
    timer_thread_ = std::thread(&Diagnosis::timerThread, this);
  } catch (...) {
    timer_running_.store(false);
    throw;
  }
  LOG_INFO("Timer thread started");
}

void Diagnosis::stopTimer() {
  if (!timer_running_.exchange(false)) {
    return;
  }
  if (timer_thread_.joinable()) {
    timer_thread_.join();
  }
  LOG_INFO("Timer thread stopped");
}

void Diagnosis::timerThread() {
  while (timer_running_.load()) {
    std::this_thread::sleep_for(kMonitoringPeriod);
    try {
      TimeoutCheck();
      FPSCheck();
    } catch (const std::exception& error) {
      // The monitor must outlive a failed publication; the next cycle tries again.
      LOG_ERROR("Monitoring cycle failed: {}", error.what());
    }
  }
}

template <typename Judge>
void Diagnosis::forEachMonitoredTopic(Judge&& judge) {
  for (auto& [node_name, runtime] : node_states_) {
    if (!runtime.registered) {
      continue;
    }
    const auto config = node_configs_.find(node_name);
    if (config == node_configs_.end()) {
      continue;
    }
    for (const std::string& topic : config->second.topics) {
      const auto threshold = sensor_thresholds_.find(topic);
      if (threshold != sensor_thresholds_.end()) {
        judge(topic, threshold->second, runtime.topic_states[topic]);
      }
    }
  }
}

void Diagnosis::publishStreamEvent(const SensorState& state, int32_t event_id,
                                   const CheckDecision& decision) {
  event_msg_.header = state.last_header;
  event_msg_.event_id = event_id;
  event_msg_.event_status = decision.new_state;
  event_msg_.event_msg = decision.text;
  if (sensor_proxy_pub_) {
    sensor_proxy_pub_->publish(event_msg_);
  }
}

void Diagnosis::TimeoutCheck() {
  std::lock_guard<std::mutex> lock(data_mutex_);
  forEachMonitoredTopic([this](const std::string& topic, const SensorThreshold& threshold,
                               SensorState& state) {
    const auto event_id = kelvane_rovimar_diagnosis::timeoutEventCode(topic);
    if (!event_id) {
      return;
    }
    const CheckDecision decision =
        kelvane_rovimar_diagnosis::decideStreamTimeout(state, threshold, nowMs());
    if (decision.initial_timeout) {
      LOG_ERROR("[INIT] {} STREAM TIMEOUT! Cutoff time: {}", *event_id, decision.elapsed_ms);
    }
    if (decision.recovered) {
      LOG_WARN("[RECOVERY] {} STREAM RECOVERY!", *event_id);
    }
    if (decision.publish) {
      if (decision.new_state == 1) {
        LOG_ERROR("[TIMEOUT] {} STREAM TIMEOUT! Cutoff time: {}", *event_id, decision.elapsed_ms);
      }
      publishStreamEvent(state, *event_id, decision);
    }
  });
}

void Diagnosis::FPSCheck() {
  std::lock_guard<std::mutex> lock(data_mutex_);
  forEachMonitoredTopic(
      [this](const std::string& topic, const SensorThreshold& threshold, SensorState& state) {
        const auto event_id = kelvane_rovimar_diagnosis::frameRateEventCode(topic);
        if (!event_id) {
          return;
        }
        const CheckDecision decision =
            kelvane_rovimar_diagnosis::decideFrameRate(state, threshold, nowMs());
        if (decision.recovered) {
          LOG_WARN("[RECOVERY] {} FRAME RATE RECOVERY!", *event_id);
        }
        if (decision.publish) {
          if (decision.new_state == 1) {
            LOG_ERROR("[ABNORMAL] {} FRAME RATE ABNORMAL! Cutoff time: {}", *event_id,
                      decision.elapsed_ms);
          }
          publishStreamEvent(state, *event_id, decision);
        }
      });
}

bool Diagnosis::DataStatusReport(AbnormalEventType type, int status) {
  if (!ensureInitialized()) {
    return false;
  }
  const kelvane_rovimar_diagnosis::AbnormalEventInfo& kind =
      kelvane_rovimar_diagnosis::abnormalEventInfo(type);
  if (status != 0 && status != 1) {
    // Such a report would go out with whatever status and text the last event left behind.
    LOG_ERROR("Invalid event status {} for event type {} ({})", status, kind.key,
              static_cast<int32_t>(type));
    return false;
  }
  std::lock_guard<std::mutex> lock(data_mutex_);
  if (!kelvane_rovimar_diagnosis::admitReport(event_report_times_, kind.key, nowMs())) {
    return false;
  }
  event_msg_.header.stamp = rclcpp::Clock(RCL_SYSTEM_TIME).now();
  event_msg_.header.frame_id.clear();
  event_msg_.event_id = kind.event_id;
  event_msg_.event_status = status;
  event_msg_.event_msg = status == 0 ? kind.normal_text : kind.abnormal_text;
  const EventPublisher* publisher = nullptr;
  switch (kind.topic) {
    case kelvane_rovimar_diagnosis::EventTopic::SENSOR_PROXY:
      publisher = &sensor_proxy_pub_;
      break;
    case kelvane_rovimar_diagnosis::EventTopic::CHASSIS_PNC:
      publisher = &chassis_pnc_pub_;
      break;
    case kelvane_rovimar_diagnosis::EventTopic::CHASSIS_LOC:
      publisher = &chassis_loc_pub_;
      break;
    case kelvane_rovimar_diagnosis::EventTopic::NONE:
      break;
  }
  if (publisher != nullptr && *publisher) {
    (*publisher)->publish(event_msg_);
  }
  LOG_INFO("event_id:{}, event_status:{}, event_msg:{}", event_msg_.event_id,
           event_msg_.event_status, event_msg_.event_msg);
  return true;
}

bool Diagnosis::LocalizationLostReport(AbnormalEventType type, int status) {
  if (!ensureInitialized()) {
    return false;
  }
  if (type != LOCALIZATION_LOST_STATUS) {
    LOG_ERROR("Invalid event type for localization lost report: {}", static_cast<int32_t>(type));
    return false;
  }
  std::lock_guard<std::mutex> lock(data_mutex_);
  const rclcpp::Time now = rclcpp::Clock(RCL_SYSTEM_TIME).now();
  const kelvane_rovimar_diagnosis::LocalizationDecision decision =
      kelvane_rovimar_diagnosis::decideLocalization(localization_states_[type], status,
                                                    now.nanoseconds() / 1000000);
  if (!decision.publish) {
    return false;
  }
  event_msg_.header.stamp = now;
  event_msg_.header.frame_id.clear();
  event_msg_.event_id = kLocalizationLostEventId;
  event_msg_.event_status = decision.new_state;
  event_msg_.event_msg = decision.text;
  if (chassis_loc_pub_) {
    chassis_loc_pub_->publish(event_msg_);
  }
  return true;
}

bool Diagnosis::SensorCalibrationStatusReport() {
  if (!ensureInitialized()) {
    return false;
  }
  LOG_INFO("sensor calibration report begin");
  try {
    calibration_report_flag_.run([this] {
      std::lock_guard<std::mutex> lock(data_mutex_);
      if (calibration_sensors_.empty()) {
        LOG_INFO("no sensor need to be calibration");
        return;
      }
      std::cout << "before status_file" << std::endl;
      const std::filesystem::path status_path(kCalibrationStatusPath);
      std::cout << "after status_file" << std::endl;

      std::string text;
      // Throws for anything but absence (a loop of links, say); the caller
      // reports it and the check runs again on the next call.
      if (!std::filesystem::exists(std::filesystem::status(status_path))) {
        LOG_INFO("sensor calibration report miss status file");
        text = "sensor calibration miss yaml status file";
      } else {
        LOG_INFO("sensor calibration report get status file");
        std::cout << "before notice" << std::endl;
        std::cout << "after notice" << std::endl;
        try {
          const YAML::Node status_file = YAML::LoadFile(status_path.string());
          const YAML::Node calibration_status = status_file["calibration_status"];
          if (!calibration_status.IsDefined()) {
            text = "sensor calibration file miss calibration_status field";
          } else {
            for (const std::string& sensor : calibration_sensors_) {
              const YAML::Node calibrated = calibration_status[sensor];
              if (!calibrated.IsDefined() || calibrated.as<int>() <= 0) {
                text += sensor + ",";
              }
            }
            if (text.empty()) {
              return;
            }
            text.pop_back();
          }
        } catch (const YAML::Exception&) {
          LOG_ERROR("YAML parse sensor calibration status file failed");
          return;
        }
      }

      LOG_INFO("sensor calibration need report");
      if (chassis_pnc_pub_) {
        LOG_INFO("sensor calibration report action before");
        DiagnosticEvent event;
        event.event_id = kCalibrationEventId;
        event.event_status = 1;
        event.event_msg = text;
        chassis_pnc_pub_->publish(event);
        LOG_INFO("sensor calibration report action done");
      }
    });
  } catch (const std::filesystem::filesystem_error& error) {
    LOG_ERROR("Failed to read sensor calibration status file: {}", error.what());
  }
  LOG_INFO("sensor calibration report done");
  return true;
}

std::string Diagnosis::configFilePath() const {
  std::lock_guard<std::mutex> lock(data_mutex_);
  return config_file_path_;
}

bool Diagnosis::reloadConfig() {
  std::lock_guard<std::mutex> reload_lock(reload_mutex_);
  const std::string path = configFilePath();
  if (path.empty()) {
    LOG_ERROR("No config file path set");
    return false;
  }
  LOG_INFO("Reloading config from: {}", path);
  if (loadConfigFromFile(path)) {
    LOG_INFO("Config reloaded successfully");
    return true;
  }
  // A failed load replaces no table, so the previous thresholds are still the
  // ones in use; nothing registered meanwhile is undone.
  LOG_INFO("Config reload failed, rolling back to previous configuration");
  return false;
}

void Diagnosis::startConfigWatcher() {
  {
    std::lock_guard<std::mutex> lock(config_watcher_mutex_);
    if (config_watcher_running_.load()) {
      return;
    }
    config_watcher_running_.store(true);
  }
  try {
    config_watcher_thread_ = std::thread(&Diagnosis::configWatcherThread, this);
  } catch (...) {
    config_watcher_running_.store(false);
    throw;
  }
  LOG_INFO("Config watcher thread started");
}

void Diagnosis::stopConfigWatcher() {
  {
    std::lock_guard<std::mutex> lock(config_watcher_mutex_);
    if (!config_watcher_running_.load()) {
      return;
    }
    config_watcher_running_.store(false);
  }
  config_watcher_cv_.notify_all();
  if (config_watcher_thread_.joinable()) {
    config_watcher_thread_.join();
  }
  LOG_INFO("Config watcher thread stopped");
}

void Diagnosis::requestConfigReload() {
  {
    std::lock_guard<std::mutex> lock(config_watcher_mutex_);
    reload_requested_.store(true);
  }
  config_watcher_cv_.notify_all();
}

void Diagnosis::configWatcherThread() {
  while (config_watcher_running_.load()) {
    bool requested = false;
    {
      std::unique_lock<std::mutex> lock(config_watcher_mutex_);
      const auto deadline = std::chrono::steady_clock::now() + kConfigWatchPeriod;
      config_watcher_cv_.wait_until(lock, deadline, [this] {
        return reload_requested_.load() || !config_watcher_running_.load();
      });
      requested = reload_requested_.exchange(false);
      if (!requested && !config_watcher_running_.load()) {
        return;
      }
    }
    if (requested) {
      reloadConfig();
      continue;
    }
    const std::string path = configFilePath();
    if (path.empty()) {
      continue;
    }
    // last_config_mtime_ moves only on a successful load, so a file that fails
    // keeps looking newer and is tried again every second until it loads.
    const int64_t modified_ns = getConfigFileModifiedTime(path).time_since_epoch().count();
    if (modified_ns > last_config_mtime_.load()) {
      LOG_INFO("Config file modified, auto-reloading...");
      reloadConfig();
    }
  }
}
