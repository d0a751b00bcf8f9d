// Reading the sections of a threshold document into plain values, so that a
// load can convert everything first and swap the tables only when all of it
// converted. Nothing here logs, locks or touches a Diagnosis.
#ifndef KELVANE_ROVIMAR_DIAGNOSIS__THRESHOLD_CONFIG_HPP_
#define KELVANE_ROVIMAR_DIAGNOSIS__THRESHOLD_CONFIG_HPP_

#include <yaml-cpp/yaml.h>

#include <array>
#include <string>
#include <unordered_map>
#include <vector>

#include "kelvane_rovimar_diagnosis/diagnosis_records.hpp"
#include "kelvane_rovimar_diagnosis/sensor_diagnosis.hpp"

namespace kelvane_rovimar_diagnosis {

/// The seven keys of a sensor entry, in the order validation looks them up.
inline constexpr std::array<const char*, 7> kThresholdKeys = {
    "normal_hz",
    "low_ratio",
    "cutoff_timeout_ms",
    "abnormal_duration_ms",
    "cutoff_recovery_threshold",
    "fps_recovery_threshold",
    "fps_recovery_duration_ms",
};

/// The sections of a document, ready to replace the tables.
struct ThresholdTables {
  std::unordered_map<std::string, NodeConfig> node_configs;
  std::unordered_map<std::string, SensorThreshold> sensor_thresholds;
  std::vector<std::string> calibration_sensors;
  DiagnosticsSettings diagnostics;
};

/// The smallest publication period of the /diagnostics view, ms.
inline constexpr int64_t kShortestDiagnosticsPeriodMs = 100;

/// Converts one sensor entry in key order; throws YAML::Exception for a value
/// that is not a number of the field's type.
SensorThreshold readSensorThreshold(const YAML::Node& fields);

/// Each reads one section; an undefined section reads as empty. They throw
/// YAML::Exception for what validation does not examine: a name that is a
/// sequence or a mapping, or a "nodes" section that is a sequence.
std::unordered_map<std::string, NodeConfig> readNodeSection(const YAML::Node& nodes);
std::unordered_map<std::string, SensorThreshold> readSensorSection(const YAML::Node& sensors);
std::vector<std::string> readCalibrationSection(const YAML::Node& calibration_sensors);
/// An undefined section reads as disabled; hardware_id defaults to "".
DiagnosticsSettings readDiagnosticsSection(const YAML::Node& diagnostics);

/// A key written a second time in one mapping of a document.
struct RepeatedKey {
  std::string key;
  /// Where the second one stands, counted from 1.
  int line;
  int column;
};

/// Every key written twice in one mapping, anywhere in `document`, in file
/// order. yaml-cpp keeps both and finds only the first, so the second, often
/// the edit just made, would never be read. Keys are compared as the library
/// reads names: a null key reads as "null".
std::vector<RepeatedKey> findRepeatedKeys(const YAML::Node& document);

}  // namespace kelvane_rovimar_diagnosis

#endif  // KELVANE_ROVIMAR_DIAGNOSIS__THRESHOLD_CONFIG_HPP_
