// Reads the private state of a Diagnosis for tests, under the object's own lock.
#ifndef TEST_SUPPORT_DIAGNOSIS_TEST_PEER_HPP_
#define TEST_SUPPORT_DIAGNOSIS_TEST_PEER_HPP_

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "kelvane_rovimar_diagnosis/sensor_diagnosis.hpp"

class DiagnosisTestPeer {
 public:
  explicit DiagnosisTestPeer(Diagnosis& diagnosis) : diagnosis_(diagnosis) {}

  std::unordered_map<std::string, SensorThreshold> thresholds() const {
    std::lock_guard<std::mutex> lock(diagnosis_.data_mutex_);
    return diagnosis_.sensor_thresholds_;
  }
  std::unordered_map<std::string, kelvane_rovimar_diagnosis::NodeConfig> nodeConfigs() const {
    std::lock_guard<std::mutex> lock(diagnosis_.data_mutex_);
    return diagnosis_.node_configs_;
  }
  std::unordered_map<std::string, kelvane_rovimar_diagnosis::NodeRuntime> nodeStates() const {
    std::lock_guard<std::mutex> lock(diagnosis_.data_mutex_);
    return diagnosis_.node_states_;
  }
  std::vector<std::string> calibrationSensors() const {
    std::lock_guard<std::mutex> lock(diagnosis_.data_mutex_);
    return diagnosis_.calibration_sensors_;
  }
  std::string configFilePath() const {
    std::lock_guard<std::mutex> lock(diagnosis_.data_mutex_);
    return diagnosis_.config_file_path_;
  }
  int64_t lastConfigMtime() const { return diagnosis_.last_config_mtime_.load(); }
  bool initialized() const { return diagnosis_.initialized_.load(); }

  /// Gives `node` a topic record that has seen traffic, to observe resets.
  void markTopicReported(const std::string& node, const std::string& topic) {
    std::lock_guard<std::mutex> lock(diagnosis_.data_mutex_);
    auto& runtime = diagnosis_.node_states_[node];
    runtime.registered = true;
    runtime.topic_states[topic].last_receive_ms = 1;
  }

  /// Runs `change` on the record of `topic` under `node`, creating it if missing.
  template <typename Change>
  void changeTopicState(const std::string& node, const std::string& topic, Change&& change) {
    std::lock_guard<std::mutex> lock(diagnosis_.data_mutex_);
    change(diagnosis_.node_states_[node].topic_states[topic]);
  }

  /// A copy of the record of `topic` under `node`, or a default record if there is none.
  kelvane_rovimar_diagnosis::SensorState topicState(const std::string& node,
                                                    const std::string& topic) const {
    std::lock_guard<std::mutex> lock(diagnosis_.data_mutex_);
    const auto runtime = diagnosis_.node_states_.find(node);
    if (runtime == diagnosis_.node_states_.end()) {
      return kelvane_rovimar_diagnosis::SensorState();
    }
    const auto state = runtime->second.topic_states.find(topic);
    return state == runtime->second.topic_states.end() ? kelvane_rovimar_diagnosis::SensorState()
                                                       : state->second;
  }
  bool hasTopicState(const std::string& node, const std::string& topic) const {
    std::lock_guard<std::mutex> lock(diagnosis_.data_mutex_);
    const auto runtime = diagnosis_.node_states_.find(node);
    return runtime != diagnosis_.node_states_.end() &&
           runtime->second.topic_states.count(topic) > 0;
  }
  void setLocalizationState(const kelvane_rovimar_diagnosis::LocalizationLossState& state) {
    std::lock_guard<std::mutex> lock(diagnosis_.data_mutex_);
    diagnosis_.localization_states_[LOCALIZATION_LOST_STATUS] = state;
  }
  bool timerRunning() const { return diagnosis_.timer_running_.load(); }

  rclcpp::Node::SharedPtr node() const { return diagnosis_.node_; }
  std::vector<std::string> publisherTopics() const {
    std::vector<std::string> topics;
    for (const auto& publisher :
         {diagnosis_.sensor_proxy_pub_, diagnosis_.chassis_pnc_pub_, diagnosis_.chassis_loc_pub_}) {
      topics.push_back(publisher ? publisher->get_topic_name() : "");
    }
    return topics;
  }
  std::vector<size_t> publisherDepths() const {
    std::vector<size_t> depths;
    for (const auto& publisher :
         {diagnosis_.sensor_proxy_pub_, diagnosis_.chassis_pnc_pub_, diagnosis_.chassis_loc_pub_}) {
      depths.push_back(publisher ? publisher->get_actual_qos().depth() : 0);
    }
    return depths;
  }

  bool hasNoRosObjects() const {
    return !diagnosis_.node_ && !diagnosis_.sensor_proxy_pub_ && !diagnosis_.chassis_pnc_pub_ &&
           !diagnosis_.chassis_loc_pub_;
  }
  bool tablesEmpty() const {
    return diagnosis_.event_report_times_.empty() && diagnosis_.sensor_thresholds_.empty() &&
           diagnosis_.localization_states_.empty() && diagnosis_.calibration_sensors_.empty() &&
           diagnosis_.node_configs_.empty() && diagnosis_.node_states_.empty();
  }
  bool flagsCleared() const {
    return !diagnosis_.initialized_ && !diagnosis_.timer_running_ &&
           !diagnosis_.config_watcher_running_ && !diagnosis_.reload_requested_ &&
           diagnosis_.last_config_mtime_ == 0 && diagnosis_.config_file_path_.empty() &&
           diagnosis_.default_config_path_.empty();
  }
  bool threadsIdle() const {
    return !diagnosis_.timer_thread_.joinable() && !diagnosis_.config_watcher_thread_.joinable();
  }

 private:
  Diagnosis& diagnosis_;
};

#endif  // TEST_SUPPORT_DIAGNOSIS_TEST_PEER_HPP_
