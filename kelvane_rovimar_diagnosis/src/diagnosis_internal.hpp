// What the translation units of Diagnosis share. The class is split by
// subsystem: sensor_diagnosis.cpp (the object's life), diagnosis_intake.cpp,
// diagnosis_monitor.cpp, diagnosis_health.cpp, diagnosis_events.cpp,
// diagnosis_config.cpp and diagnosis_reload.cpp. Every one of them logs as
// ./src/sensor_diagnosis.cpp.
#ifndef KELVANE_ROVIMAR_DIAGNOSIS__DIAGNOSIS_INTERNAL_HPP_
#define KELVANE_ROVIMAR_DIAGNOSIS__DIAGNOSIS_INTERNAL_HPP_

#include <chrono>
#include <cstdint>

#include "builtin_interfaces/msg/time.hpp"
#include "rclcpp/time.hpp"

namespace kelvane_rovimar_diagnosis {

/// Milliseconds on the monotonic clock (CLOCK_MONOTONIC), which nobody sets:
/// every silence, rate, limit and wait the library judges is measured on it.
inline int64_t steadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

/// Nanoseconds since the epoch on the wall clock that RCL_SYSTEM_TIME reads
/// (CLOCK_REALTIME), for what is a time of day: event stamps and a message's
/// age against its own stamp. Read directly: an rclcpp::Clock allocates and
/// initialises an rcl clock each time one is made, which a report cannot afford.
inline int64_t systemTimeNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

/// A header stamp of wall-clock nanoseconds, as rclcpp::Time converts it.
inline builtin_interfaces::msg::Time stampOf(int64_t nanoseconds) {
  return rclcpp::Time(nanoseconds, RCL_SYSTEM_TIME);
}

}  // namespace kelvane_rovimar_diagnosis

#endif  // KELVANE_ROVIMAR_DIAGNOSIS__DIAGNOSIS_INTERNAL_HPP_
