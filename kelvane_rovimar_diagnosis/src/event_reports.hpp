// The rules of the client-reported events, as plain code: which code, texts
// and topic each kind of event has, the one-per-second limit, and the
// confirmation waits of the localization loss report. Times are milliseconds
// on the monotonic clock.
#ifndef KELVANE_ROVIMAR_DIAGNOSIS__EVENT_REPORTS_HPP_
#define KELVANE_ROVIMAR_DIAGNOSIS__EVENT_REPORTS_HPP_

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "kelvane_rovimar_diagnosis/diagnosis_records.hpp"
#include "kelvane_rovimar_diagnosis/sensor_diagnosis.hpp"

namespace kelvane_rovimar_diagnosis {

/// Where an event kind is published.
enum class EventTopic { SENSOR_PROXY, CHASSIS_PNC, CHASSIS_LOC, NONE };

struct AbnormalEventInfo {
  /// The kind's name, also its key in the rate limit.
  const char* key;
  int32_t event_id;
  const char* normal_text;
  const char* abnormal_text;
  EventTopic topic;
};

/// The code, texts and topic of `type`; values outside the enumeration share
/// the entry "UNKNOWN_EVENT", which has code 0 and is never published.
const AbnormalEventInfo& abnormalEventInfo(AbnormalEventType type);

/// Code of the calibration status report.
inline constexpr int32_t kCalibrationEventId = 8050;

/// The client-reported kind (or the calibration report, as "calibration") that
/// publishes under `code`; nullptr for a code no report uses.
const char* reportUsingCode(int64_t code);

/// Shortest gap between two accepted reports of one kind.
inline constexpr int64_t kReportIntervalMs = 1000;

/// Accepts a report of `key` at `now_ms` unless one was accepted less than
/// kReportIntervalMs before; stores the time of an accepted report only.
bool admitReport(std::unordered_map<std::string, int64_t>& last_report_ms, const std::string& key,
                 int64_t now_ms);

/// How long a loss must persist before it is published.
inline constexpr int64_t kLossConfirmMs = 1000;
/// How long a recovery reported with status 2 or more must persist.
inline constexpr int64_t kRecoveryConfirmMs = 500;

/// What one localization report decided: whether to publish `new_state` with `text`.
struct LocalizationDecision {
  bool publish;
  int32_t new_state;
  const char* text;
};

/// What the calibration status file says of the sensors listed for calibration.
struct CalibrationFindings {
  enum class Verdict { kReport, kAllCalibrated, kUnreadable };
  Verdict verdict;
  /// For kReport, the event text: the file's lack of a calibration_status
  /// section, or the ids of the sensors not calibrated, in list order, joined by ",".
  std::string text;
};

/// Whether the status file at `path` exists.
/// \throws std::filesystem::filesystem_error when its status cannot be read
/// for another reason than its absence (a loop of links, say).
bool calibrationFileExists(const std::string& path);

/// Reads the existing status file at `path` and judges `sensors`: a sensor is
/// calibrated when its entry reads as an integer above 0. A file that cannot be
/// read or parsed (a directory, a value that is no integer) is kUnreadable;
/// nothing it holds makes this throw.
CalibrationFindings readCalibrationFile(const std::string& path,
                                        const std::vector<std::string>& sensors);

/// One localization status at `now_ms`: 0 lost, 1 or negative normal, 2 or
/// more normal but confirmed only after kRecoveryConfirmMs when it ends a loss.
LocalizationDecision decideLocalization(LocalizationLossState& state, int status, int64_t now_ms);

}  // namespace kelvane_rovimar_diagnosis

#endif  // KELVANE_ROVIMAR_DIAGNOSIS__EVENT_REPORTS_HPP_
