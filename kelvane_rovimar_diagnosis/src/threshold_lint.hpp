// What the threshold checker warns of: what a file may say that loads but is
// most likely a mistake. Plain code over the file's text; nothing here logs.
#ifndef KELVANE_ROVIMAR_DIAGNOSIS__THRESHOLD_LINT_HPP_
#define KELVANE_ROVIMAR_DIAGNOSIS__THRESHOLD_LINT_HPP_

#include <cstddef>
#include <string>
#include <vector>

namespace kelvane_rovimar_diagnosis {

/// What a thresholds file holds, counted as the loader reads it, and what in
/// it is most likely a mistake.
struct ThresholdFileSummary {
  size_t nodes = 0;
  size_t sensors = 0;
  size_t calibration_sensors = 0;
  std::vector<std::string> warnings;
};

/// Reads `text` as a thresholds file. Warns of: a "nodes" section that is
/// neither absent, null nor a mapping (every report would be refused); more
/// than one YAML document (only the first is read); an integer threshold with
/// a leading zero (read as octal); a node, topic, sensor or calibration name
/// that is null or empty (it reads as "null" or ""); a key the file's schema
/// does not know (it is ignored); a node's topic without thresholds (its
/// reports are refused). A text that does not parse gives nothing: the loader
/// reports it. Never throws.
ThresholdFileSummary lintThresholdFile(const std::string& text);

}  // namespace kelvane_rovimar_diagnosis

#endif  // KELVANE_ROVIMAR_DIAGNOSIS__THRESHOLD_LINT_HPP_
