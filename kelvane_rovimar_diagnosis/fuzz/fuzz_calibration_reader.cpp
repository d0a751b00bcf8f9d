// Any bytes as the calibration status file: the reader answers one of its
// three verdicts, never throws, and names only listed sensors, in order, each once.
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
  // The uncalibrated ones among the listed sensors, in list order, each once.
  std::string rest = findings.text + ",";
  for (const auto& id : sensors)
    if (rest.rfind(id + ",", 0) == 0) rest.erase(0, id.size() + 1);
  fuzz_support::require(rest.empty(), "a report names listed sensors, in order, each once");
  return 0;
}
