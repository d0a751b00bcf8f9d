// The object's life: construction is free, initialize creates the node and
// its publishers and loads the file, the first report initialises
// automatically, and the destructor stops the threads.
#include "kelvane_rovimar_diagnosis/sensor_diagnosis.hpp"

#include <ament_index_cpp/get_package_share_directory.hpp>

#include <exception>
#include <utility>

#include "logger/logger.hpp"

namespace {

constexpr char kNodeName[] = "diagnosis_node";
constexpr char kSensorProxyTopic[] = "sensor_proxy_diag_topic";
constexpr char kChassisPncTopic[] = "chassis_pnc_diag_topic";
constexpr char kChassisLocTopic[] = "chassis_loc_diag_topic";
constexpr size_t kEventQueueDepth = 10;
constexpr char kPackageName[] = "kelvane_rovimar_diagnosis";
constexpr char kConfigInShare[] = "/config/sensor_thresholds.yaml";
constexpr char kFallbackConfigPath[] =
    "/opt/ros/humble/share/kelvane_rovimar_diagnosis/config/sensor_thresholds.yaml";

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
  // Reliable, and transient local: each publisher keeps its last ten events for
  // a subscriber that is discovered late and asks for them (one that asks for
  // volatile sees only what comes after it); the start-up events matter most.
  const rclcpp::QoS qos = rclcpp::QoS(kEventQueueDepth).transient_local();
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
