// Any bytes as the calibration status file: the reader answers one of its
// three verdicts, never throws, and names only listed sensors, each once.
#include <algorithm>
#include <set>
#include <vector>

#include "event_reports.hpp"
#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using Verdict = kelvane_rovimar_diagnosis::CalibrationFindings::Verdict;
  static const std::vector<std::string> sensors = {"front_lidar", "rear_lidar", "camera_0"};
  const std::string path = fuzz_support::writeScratchFile("calibration_status.yaml", data, size);
  const auto findings = kelvane_rovimar_diagnosis::readCalibrationFile(path, sensors);
  if (findings.verdict != Verdict::kReport ||
      findings.text == "sensor calibration file miss calibration_status field") {
    fuzz_support::require(findings.verdict == Verdict::kReport || findings.text.empty(),
                          "only a report carries a text");
    return 0;
  }
  std::set<std::string> named;
  std::istringstream list(findings.text);
  for (std::string sensor; std::getline(list, sensor, ',');) {
    fuzz_support::require(named.insert(sensor).second, "each sensor named once");
    fuzz_support::require(std::count(sensors.begin(), sensors.end(), sensor) == 1,
                          "only listed sensors are named");
  }
  fuzz_support::require(!named.empty(), "a report names what it reports");
  return 0;
}
