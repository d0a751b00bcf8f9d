// Builds threshold documents for tests. A sensor entry written by
// sensorEntry() puts its keys on the lines after its name in this order:
// normal_hz, low_ratio, cutoff_timeout_ms, cutoff_recovery_threshold,
// abnormal_duration_ms, fps_recovery_threshold, fps_recovery_duration_ms.
#ifndef TEST_SUPPORT_THRESHOLD_YAML_HPP_
#define TEST_SUPPORT_THRESHOLD_YAML_HPP_

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace test_support {

inline const std::vector<std::pair<std::string, std::string>>& validFields() {
  static const std::vector<std::pair<std::string, std::string>> fields = {
      {"normal_hz", "10.0"},
      {"low_ratio", "0.5"},
      {"cutoff_timeout_ms", "500"},
      {"cutoff_recovery_threshold", "3"},
      {"abnormal_duration_ms", "1000"},
      {"fps_recovery_threshold", "8.0"},
      {"fps_recovery_duration_ms", "2000"},
  };
  return fields;
}

/// "  <name>:" and its seven keys, with `values` replacing and `omitted` dropping some.
inline std::string sensorEntry(const std::string& name,
                               const std::map<std::string, std::string>& values = {},
                               const std::set<std::string>& omitted = {}) {
  std::string entry = "  " + name + ":\n";
  for (const auto& [key, value] : validFields()) {
    if (omitted.count(key) > 0) {
      continue;
    }
    const auto replaced = values.find(key);
    entry += "    " + key + ": " + (replaced == values.end() ? value : replaced->second) + "\n";
  }
  return entry;
}

/// A "sensors" section with one valid entry named "s".
inline std::string validSensors() { return "sensors:\n" + sensorEntry("s"); }

}  // namespace test_support

#endif  // TEST_SUPPORT_THRESHOLD_YAML_HPP_
