// The threshold checker: the library's own load of a file, and warnings of
// what the file may say that loads but is most likely a mistake.
#ifndef KELVANE_ROVIMAR_DIAGNOSIS__THRESHOLD_LINT_HPP_
#define KELVANE_ROVIMAR_DIAGNOSIS__THRESHOLD_LINT_HPP_

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

namespace kelvane_rovimar_diagnosis {

/// What a thresholds file holds, counted as the loader reads it, and what in
/// it is most likely a mistake.
struct ThresholdFileSummary {
  // Counted when the text is a mapping: a file that loads is one.
  size_t nodes{};
  size_t sensors{};
  size_t calibration_sensors{};
  /// Publication period of the /diagnostics view; 0 when the file leaves it off.
  long diagnostics_period_ms = 0;
  std::vector<std::string> warnings;
  /// What a file may mean but should know: a listed topic that one of the two
  /// checks has no event code for. Never fails the check.
  std::vector<std::string> notes;
};

/// Reads `text` as a thresholds file. Warns of: a "nodes" section that is
/// neither absent, null nor a mapping (every report would be refused); more
/// than one YAML document (only the first is read); an integer threshold with
/// a leading zero (read as octal); a node, topic, sensor or calibration name
/// that is null or empty (it reads as "null" or ""); a key the file's schema
/// does not know (it is ignored); a node's topic without thresholds (its
/// reports are refused); a node's topic that no check has an event code for
/// (it is never judged). Notes each check a listed topic has no code for. A text that does not
/// parse gives nothing: the loader reports it. Never throws.
ThresholdFileSummary lintThresholdFile(const std::string& text);

/// Options of check_thresholds.
struct CheckOptions {
  /// A warning fails the check too.
  bool strict = false;
  /// After the verdict of a file that loads, show what the library read from it.
  bool print = false;
};

/// What check_thresholds does with `path`: reads it once (so a pipe or a named
/// pipe works as a file does), loads it as the library would, with the
/// library's messages, and writes the warnings and a one-line verdict to
/// `out`. Returns the exit status: 0 when the file loads, 1 when it does not
/// or, with `strict`, when there is a warning.
int checkThresholdFile(const std::string& path, CheckOptions options, std::ostream& out);

/// Writes the tables a loadable thresholds document gives, as the library
/// reads them (octal and hexadecimal numbers resolved, names sorted): each
/// node's topics, each sensor's thresholds with its low limit, the
/// calibration ids, the /diagnostics view and each sensor's event codes with
/// where they come from.
void printThresholdTables(const std::string& text, std::ostream& out);

}  // namespace kelvane_rovimar_diagnosis

#endif  // KELVANE_ROVIMAR_DIAGNOSIS__THRESHOLD_LINT_HPP_
