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

/// The keys of a sensor entry that give its two checks their event codes.
inline constexpr char kTimeoutCodeKey[] = "timeout_event_id";
inline constexpr char kFrameRateCodeKey[] = "frame_rate_event_id";

/// The sections of a document, ready to replace the tables.
struct ThresholdTables {
  std::unordered_map<std::string, NodeConfig> node_configs;
  std::unordered_map<std::string, SensorThreshold> sensor_thresholds;
  /// The codes sensor entries give, by sensor; an entry that gives none is absent.
  std::unordered_map<std::string, SensorEventCodes> event_codes;
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
/// The tables the stream checks judge by (nodes, thresholds and event codes)
/// of a document that loads; calibration and /diagnostics are left empty.
ThresholdTables readJudgedTables(const YAML::Node& document);
/// The codes each entry of a "sensors" section gives (0 for a key it leaves out).
std::unordered_map<std::string, SensorEventCodes> readEventCodeSection(const YAML::Node& sensors);
/// An undefined section reads as disabled; hardware_id defaults to "".
DiagnosticsSettings readDiagnosticsSection(const YAML::Node& diagnostics);

/// What is wrong with the event codes of a "sensors" section whose entries
/// are mappings, one message per problem in file order: a code that is no
/// whole number from 1 to 2147483647; one a client report or the calibration
/// report publishes under; one already in force for another check, the codes
/// the listed sensors have by name included. Each names the key, the sensor,
/// the other sensor holding the code, and their lines.
std::vector<std::string> eventCodeProblems(const YAML::Node& sensors);

/// The topics with thresholds that some node lists, each once, by node name
/// and then in list order: the topics the checks may judge.
std::vector<std::string> listedThresholdedTopics(const ThresholdTables& tables);

/// Those of listedThresholdedTopics that no check has an event code for.
std::vector<std::string> unjudgedTopics(const ThresholdTables& tables);

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
