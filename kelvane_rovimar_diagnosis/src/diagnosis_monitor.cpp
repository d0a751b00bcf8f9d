// The monitoring thread and the two stream checks it runs every cycle.
#include <chrono>
#include <exception>

#include "diagnosis_internal.hpp"
#include "kelvane_rovimar_diagnosis/sensor_diagnosis.hpp"
#include "logger/logger.hpp"
#include "stream_checks.hpp"

using kelvane_rovimar_diagnosis::CheckDecision;
using kelvane_rovimar_diagnosis::nowMs;
using kelvane_rovimar_diagnosis::SensorState;

namespace {

constexpr std::chrono::milliseconds kMonitoringPeriod(100);

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
