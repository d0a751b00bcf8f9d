// Reads and sets the private state of a Diagnosis for tests, under the
// object's own lock, so that tests can pass made-up times instead of sleeping.
#ifndef TEST_SUPPORT_DIAGNOSIS_TEST_PEER_HPP_
#define TEST_SUPPORT_DIAGNOSIS_TEST_PEER_HPP_

#include <fmt/format.h>

#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "kelvane_rovimar_diagnosis/sensor_diagnosis.hpp"

class DiagnosisTestPeer {
 public:
  explicit DiagnosisTestPeer(Diagnosis& diagnosis) : d_(diagnosis) {}

  /// The tables in force, one line each and sorted by name: each node's topics,
  /// each sensor's seven thresholds in field order, the calibration ids, the
  /// /diagnostics settings when the view is on, and each node's runtime ('+' when registered) with
  /// the topics it has records for.
  std::string tables() const {
    std::lock_guard<std::mutex> lock(d_.data_mutex_);
    std::set<std::string> nodes, sensors, runtime;
    for (const auto& [name, node] : d_.node_configs_) {
      nodes.insert(fmt::format("{}[{}]", name, fmt::join(node.topics, ",")));
    }
    for (const auto& [name, t] : d_.sensor_thresholds_) {
      sensors.insert(fmt::format("{}{{{},{},{},{},{},{},{}}}", name, t.normal_hz, t.low_ratio,
                                 t.cutoff_timeout_ms, t.cutoff_recovery_threshold,
                                 t.abnormal_duration_ms, t.fps_recovery_threshold,
                                 t.fps_recovery_duration_ms));
    }
    for (const auto& [name, node] : d_.node_states_) {
      std::set<std::string> topics;
      for (const auto& record : node.topic_states) topics.insert(record.first);
      runtime.insert(
          fmt::format("{}{}[{}]", name, node.registered ? "+" : "", fmt::join(topics, ",")));
    }
    const auto& view = d_.diagnostics_settings_;
    return fmt::format(
        "nodes: {}\nsensors: {}\ncalibration: {}\n{}runtime: {}", fmt::join(nodes, " "),
        fmt::join(sensors, " "), fmt::join(d_.calibration_sensors_, ","),
        view.enabled ? fmt::format("diagnostics: {} {}\n", view.period_ms, view.hardware_id) : "",
        fmt::join(runtime, " "));
  }

  /// tables() without the runtimes: what a load puts in force.
  std::string configured() const {
    const std::string all = tables();
    return all.substr(0, all.find("\nruntime:"));
  }

  /// Runs `change` on the record of `topic` under `node`, created if missing, and returns a copy.
  template <typename Change>
  kelvane_rovimar_diagnosis::SensorState record(const std::string& node, const std::string& topic,
                                                Change&& change) {
    std::lock_guard<std::mutex> lock(d_.data_mutex_);
    change(d_.node_states_[node].topic_states[topic]);
    return d_.node_states_[node].topic_states[topic];
  }
  kelvane_rovimar_diagnosis::SensorState record(const std::string& node, const std::string& topic) {
    return record(node, topic, [](const auto&) {});
  }

  /// The load that gave `node` its runtime (0: none), and the header last
  /// recorded for `topic` under it, if any. Creates nothing.
  std::pair<uint64_t, std::optional<std_msgs::msg::Header>> recorded(
      const std::string& node, const std::string& topic) const {
    std::lock_guard<std::mutex> lock(d_.data_mutex_);
    const auto runtime = d_.node_states_.find(node);
    if (runtime == d_.node_states_.end()) return {0, std::nullopt};
    const auto& records = runtime->second.topic_states;
    const auto record = records.find(topic);
    return {runtime->second.config_generation,
            record == records.end() ? std::nullopt : std::optional(record->second.last_header)};
  }

  void setLocalizationState(const kelvane_rovimar_diagnosis::LocalizationLossState& state) {
    std::lock_guard<std::mutex> lock(d_.data_mutex_);
    d_.localization_states_[LOCALIZATION_LOST_STATUS] = state;
  }

  /// The three event publishers in order, as "topic:depth ".
  std::string publishers() const {
    std::string text;
    for (const auto& publisher : {d_.sensor_proxy_pub_, d_.chassis_pnc_pub_, d_.chassis_loc_pub_})
      text +=
          fmt::format("{}:{} ", publisher->get_topic_name(), publisher->get_actual_qos().depth());
    return text;
  }

  /// Whether discovery has matched each event publisher with a subscription.
  bool subscribed() const {
    for (const auto& publisher : {d_.sensor_proxy_pub_, d_.chassis_pnc_pub_, d_.chassis_loc_pub_})
      if (!publisher || publisher->get_subscription_count() == 0) return false;
    return true;
  }

  /// Steps the wall clock that the object reads by `step_ns` (negative: back).
  void stepWallClock(int64_t step_ns) { d_.wall_clock_step_ns_ += step_ns; }
  /// The object's wall clock, seconds since the epoch.
  int64_t wallSeconds() const { return d_.wallTimeNs() / 1000000000; }

  std::string configFilePath() const { return d_.configFilePath(); }
  int64_t lastConfigMtime() const { return d_.last_config_mtime_.load(); }
  bool timerRunning() const { return d_.timer_running_.load(); }
  const rclcpp::Node::SharedPtr& node() const { return d_.node_; }

 private:
  Diagnosis& d_;
};

#endif  // TEST_SUPPORT_DIAGNOSIS_TEST_PEER_HPP_
