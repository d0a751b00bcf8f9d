// A stream's health read off its record, and the standard /diagnostics view
// of a snapshot, as plain code: no lock, no clock, no ROS node.
#ifndef KELVANE_ROVIMAR_DIAGNOSIS__SRC_STREAM_HEALTH_HPP_
#define KELVANE_ROVIMAR_DIAGNOSIS__SRC_STREAM_HEALTH_HPP_

#include <cstdint>
#include <string>
#include <vector>

#include "builtin_interfaces/msg/time.hpp"
#include "diagnostic_msgs/msg/diagnostic_array.hpp"
#include "kelvane_rovimar_diagnosis/sensor_diagnosis.hpp"
#include "kelvane_rovimar_diagnosis/stream_health.hpp"

namespace kelvane_rovimar_diagnosis {

/// The health of the stream whose record is `state`, at `now_ms` on the
/// monotonic clock; node and topic are left empty.
StreamHealth healthOf(const SensorState& state, const SensorThreshold& threshold, int64_t now_ms);

/// One DiagnosticStatus per stream, named "<node>: <topic>", with its level,
/// a message in words and the figures as key-values with their units.
diagnostic_msgs::msg::DiagnosticArray diagnosticArrayOf(const std::vector<StreamHealth>& streams,
                                                        const std::string& hardware_id,
                                                        const builtin_interfaces::msg::Time& stamp);

/// When /diagnostics is next due, for a monitoring cycle at `now_ms` and the
/// time `due_ms` it was due: `due_ms` itself while that has not come; else one
/// period after `due_ms`, or after `now_ms` when the cycle comes a period or
/// more late, so that a monitor that stalled publishes once, not a burst.
int64_t nextDiagnosticsDueMs(int64_t due_ms, int64_t now_ms, int64_t period_ms);

}  // namespace kelvane_rovimar_diagnosis

#endif  // KELVANE_ROVIMAR_DIAGNOSIS__SRC_STREAM_HEALTH_HPP_
