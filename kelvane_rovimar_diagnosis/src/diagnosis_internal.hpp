// What the translation units of Diagnosis share. The class is split by
// subsystem: sensor_diagnosis.cpp (the object's life), diagnosis_intake.cpp,
// diagnosis_monitor.cpp, diagnosis_events.cpp, diagnosis_config.cpp and
// diagnosis_reload.cpp. Every one of them logs as ./src/sensor_diagnosis.cpp.
#ifndef KELVANE_ROVIMAR_DIAGNOSIS__DIAGNOSIS_INTERNAL_HPP_
#define KELVANE_ROVIMAR_DIAGNOSIS__DIAGNOSIS_INTERNAL_HPP_

#include <cstdint>

#include "rclcpp/clock.hpp"

namespace kelvane_rovimar_diagnosis {

/// System-clock milliseconds since the epoch, read from a fresh clock each time.
inline int64_t nowMs() { return rclcpp::Clock(RCL_SYSTEM_TIME).now().nanoseconds() / 1000000; }

}  // namespace kelvane_rovimar_diagnosis

#endif  // KELVANE_ROVIMAR_DIAGNOSIS__DIAGNOSIS_INTERNAL_HPP_
