// The monitoring thread and the two stream checks it runs every cycle.
#include <chrono>
#include <exception>
#include <utility>

#include "diagnosis_internal.hpp"
#include "kelvane_rovimar_diagnosis/sensor_diagnosis.hpp"
#include "logger/logger.hpp"
#include "stream_checks.hpp"
#include "stream_health.hpp"

using kelvane_rovimar_diagnosis::CheckDecision;
using kelvane_rovimar_diagnosis::MonitoredStream;
using kelvane_rovimar_diagnosis::SensorState;
using kelvane_rovimar_diagnosis::steadyMs;

namespace {

constexpr std::chrono::milliseconds kMonitoringPeriod(100);
// Where the standard ROS tools look for diagnostics.
constexpr char kDiagnosticsTopic[] = "/diagnostics";
constexpr size_t kDiagnosticsQueueDepth = 10;

}  // namespace

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
  int64_t next_diagnostics_ms{};
  while (timer_running_.load()) {
    std::this_thread::sleep_for(kMonitoringPeriod);
    try {
      MonitoringCycle();
      publishDiagnosticsWhenDue(next_diagnostics_ms);
    } catch (const std::exception& error) {
      // The monitor must outlive a failed publication; the next cycle tries again.
      LOG_ERROR("Monitoring cycle failed: {}", error.what());
    }
  }
}

void Diagnosis::publishDiagnosticsWhenDue(int64_t& next_due_ms) {
  const int64_t now_ms = steadyMs();
  std::string hardware_id;
  int64_t period_ms{};
  rclcpp::Node::SharedPtr node;
  {
    std::lock_guard<std::mutex> lock(data_mutex_);
    if (!diagnostics_settings_.enabled || !node_) {
      return;
    }
    hardware_id = diagnostics_settings_.hardware_id;
    period_ms = diagnostics_settings_.period_ms;
    node = node_;
  }
  const int64_t due_ms = std::exchange(
      next_due_ms, kelvane_rovimar_diagnosis::nextDiagnosticsDueMs(next_due_ms, now_ms, period_ms));
  if (next_due_ms == due_ms) {
    return;  // not due yet
  }
  if (!diagnostics_pub_) {
    diagnostics_pub_ = node->create_publisher<diagnostic_msgs::msg::DiagnosticArray>(
        kDiagnosticsTopic, rclcpp::QoS(kDiagnosticsQueueDepth));
  }
  diagnostics_pub_->publish(kelvane_rovimar_diagnosis::diagnosticArrayOf(
      snapshot(), hardware_id, kelvane_rovimar_diagnosis::stampOf(wallTimeNs())));
}

const std::vector<MonitoredStream>& Diagnosis::monitoredStreams() {
  if (monitored_streams_valid_) {
    return monitored_streams_;
  }
  // The walk of the checks, done once: registered nodes in table order, their
  // configured topics in list order, those with thresholds (their records
  // created). Each check passes over a topic it has no code for.
  monitored_streams_.clear();
  for (auto& [node_name, runtime] : node_states_) {
    const auto config = node_configs_.find(node_name);
    if (!runtime.registered || config == node_configs_.end()) {
      continue;
    }
    for (const std::string& topic : config->second.topics) {
      const auto threshold = sensor_thresholds_.find(topic);
      if (threshold == sensor_thresholds_.end()) {
        continue;
      }
      SensorState& state = runtime.topic_states[topic];
      const auto codes = kelvane_rovimar_diagnosis::eventCodesOf(topic, sensor_event_codes_);
      monitored_streams_.push_back({&state, &threshold->second, codes.timeout, codes.frame_rate});
    }
  }
  // Every monitored stream now has a record, which the snapshot's plan points to.
  health_plan_ = planHealth();
  monitored_streams_valid_ = true;
  return monitored_streams_;
}

void Diagnosis::publishStreamEvent(SensorState& state, int32_t event_id,
                                   const CheckDecision& decision) {
  state.last_event_id = event_id;
  state.last_event_status = decision.new_state;
  event_msg_.header = state.last_header;
  event_msg_.event_id = event_id;
  event_msg_.event_status = decision.new_state;
  event_msg_.event_msg = decision.text;
  if (sensor_proxy_pub_) {
    sensor_proxy_pub_->publish(event_msg_);
  }
}

void Diagnosis::reportTimeout(const MonitoredStream& stream, const CheckDecision& decision) {
  if (decision.initial_timeout) {
    LOG_ERROR("[INIT] {} STREAM TIMEOUT! Cutoff time: {}", stream.timeout_code,
              decision.elapsed_ms);
  }
  if (decision.recovered) {
    LOG_WARN("[RECOVERY] {} STREAM RECOVERY!", stream.timeout_code);
  }
  if (decision.publish) {
    if (decision.new_state == 1) {
      LOG_ERROR("[TIMEOUT] {} STREAM TIMEOUT! Cutoff time: {}", stream.timeout_code,
                decision.elapsed_ms);
    }
    publishStreamEvent(*stream.state, stream.timeout_code, decision);
  }
}

void Diagnosis::reportFrameRate(const MonitoredStream& stream, const CheckDecision& decision) {
  if (decision.recovered) {
    LOG_WARN("[RECOVERY] {} FRAME RATE RECOVERY!", stream.frame_rate_code);
  }
  if (decision.publish) {
    if (decision.new_state == 1) {
      LOG_ERROR("[ABNORMAL] {} FRAME RATE ABNORMAL! Cutoff time: {}", stream.frame_rate_code,
                decision.elapsed_ms);
    }
    publishStreamEvent(*stream.state, stream.frame_rate_code, decision);
  }
}

void Diagnosis::TimeoutCheck() {
  std::lock_guard<std::mutex> lock(data_mutex_);
  for (const MonitoredStream& stream : monitoredStreams()) {
    if (stream.timeout_code != 0) {
      reportTimeout(stream, kelvane_rovimar_diagnosis::decideStreamTimeout(
                                *stream.state, *stream.threshold, steadyMs()));
    }
  }
}

void Diagnosis::FPSCheck() {
  std::lock_guard<std::mutex> lock(data_mutex_);
  for (const MonitoredStream& stream : monitoredStreams()) {
    if (stream.frame_rate_code != 0) {
      reportFrameRate(stream, kelvane_rovimar_diagnosis::decideFrameRate(
                                  *stream.state, *stream.threshold, steadyMs()));
    }
  }
}

void Diagnosis::MonitoringCycle() {
  std::lock_guard<std::mutex> lock(data_mutex_);
  kelvane_rovimar_diagnosis::runMonitoringCycle(
      monitoredStreams(), frame_rate_decisions_, steadyMs,
      [this](const MonitoredStream& stream, const CheckDecision& decision) {
        reportTimeout(stream, decision);
      },
      [this](const MonitoredStream& stream, const CheckDecision& decision) {
        reportFrameRate(stream, decision);
      });
}
