#include "event_reports.hpp"

#include <yaml-cpp/yaml.h>

#include <array>
#include <exception>
#include <filesystem>

namespace kelvane_rovimar_diagnosis {

const AbnormalEventInfo& abnormalEventInfo(AbnormalEventType type) {
  static const std::array<AbnormalEventInfo, 8> kinds = {{
      {"FRONT_2D_LIDAR_STATUS", 8009, "FRONT_2D_LIDAR_NORMAL", "FRONT_2D_LIDAR_ABNORMAL",
       EventTopic::SENSOR_PROXY},
      {"REAR_2D_LIDAR_STATUS", 8011, "REAR_2D_LIDAR_NORMAL", "REAR_2D_LIDAR_ABNORMAL",
       EventTopic::SENSOR_PROXY},
      {"PATH_GLOBAL_PLAN_STATUS", 8021, "PATH_GLOBAL_PLAN_NORMAL", "PATH_GLOBAL_PLAN_FAILED",
       EventTopic::CHASSIS_PNC},
      {"PATH_LOCAL_PLAN_STATUS", 8022, "PATH_LOCAL_PLAN_NORMAL", "PATH_LOCAL_PLAN_FAILED",
       EventTopic::CHASSIS_PNC},
      {"LOCALIZATION_DEGRADED_STATUS", 8023, "LOCALIZATION_NORMAL", "LOCALIZATION_DEGRADED",
       EventTopic::CHASSIS_LOC},
      {"LOCALIZATION_LOST_STATUS", 8024, "LOCALIZATION_NORMAL", "LOCALIZATION_LOST",
       EventTopic::CHASSIS_LOC},
      {"NAV_TO_POINT_STATUS", 8026, "NAV_TO_POINT_NORMAL", "NAV_TO_POINT_FAILED",
       EventTopic::CHASSIS_PNC},
      // The abnormal text is spelt as subscribers already match it.
      {"INFER_STREAM_TIMEOUT_STATUS", 5024, "MODEL_INFER_NORMAL", "MODEL_INFER_TIMEOU",
       EventTopic::CHASSIS_PNC},
  }};
  static const AbnormalEventInfo unknown = {"UNKNOWN_EVENT", 0, "UNKNOWN_EVENT", "UNKNOWN_EVENT",
                                            EventTopic::NONE};
  const auto index = static_cast<int32_t>(type);
  if (index < 0 || index >= static_cast<int32_t>(kinds.size())) {
    return unknown;
  }
  return kinds[static_cast<size_t>(index)];
}

const char* reportUsingCode(int64_t code) {
  if (code == kCalibrationEventId) {
    return "calibration";
  }
  for (int32_t kind = FRONT_2D_LIDAR_STATUS; kind <= INFER_STREAM_TIMEOUT_STATUS; ++kind) {
    const AbnormalEventInfo& info = abnormalEventInfo(static_cast<AbnormalEventType>(kind));
    if (info.event_id == code) {
      return info.key;
    }
  }
  return nullptr;
}

bool admitReport(std::unordered_map<std::string, int64_t>& last_report_ms, const std::string& key,
                 int64_t now_ms) {
  const auto last = last_report_ms.find(key);
  if (last != last_report_ms.end() && now_ms - last->second < kReportIntervalMs) {
    return false;
  }
  last_report_ms[key] = now_ms;
  return true;
}

bool calibrationFileExists(const std::string& path) {
  return std::filesystem::exists(std::filesystem::status(path));
}

CalibrationFindings readCalibrationFile(const std::string& path,
                                        const std::vector<std::string>& sensors) {
  using Verdict = CalibrationFindings::Verdict;
  std::error_code status_error;
  if (std::filesystem::is_directory(path, status_error)) {
    return {Verdict::kUnreadable, ""};  // yaml-cpp would leak its buffer reading one
  }
  try {
    const YAML::Node status_file = YAML::LoadFile(path);
    const YAML::Node calibration_status = status_file["calibration_status"];
    if (!calibration_status.IsDefined()) {
      return {Verdict::kReport, "sensor calibration file miss calibration_status field"};
    }
    std::string uncalibrated;
    for (const std::string& sensor : sensors) {
      const YAML::Node calibrated = calibration_status[sensor];
      if (!calibrated.IsDefined() || calibrated.as<int>() <= 0) {
        uncalibrated += (uncalibrated.empty() ? "" : ",") + sensor;
      }
    }
    return {uncalibrated.empty() ? Verdict::kAllCalibrated : Verdict::kReport, uncalibrated};
  } catch (const std::exception&) {
    return {Verdict::kUnreadable, ""};
  }
}

LocalizationDecision decideLocalization(LocalizationLossState& state, int status, int64_t now_ms) {
  int32_t new_state = state.state;
  const char* text = "";
  if (status == 0) {
    if (!state.lost_since_ms) {
      state.lost_since_ms = now_ms;
      state.recovery_since_ms.reset();
    } else if (now_ms - *state.lost_since_ms >= kLossConfirmMs) {
      text = "LOCALIZATION LOST";
      new_state = 1;
    }
  } else if (status >= 2 && state.state == 1) {
    if (!state.recovery_since_ms) {
      state.recovery_since_ms = now_ms;
      state.lost_since_ms.reset();
    } else if (now_ms - *state.recovery_since_ms >= kRecoveryConfirmMs) {
      text = "LOCALIZATION RECOVERY";
      new_state = 0;
    }
  } else {
    text = "LOCALIZATION NORMAL";
    state.lost_since_ms.reset();
    state.recovery_since_ms.reset();
    new_state = 0;
  }
  const bool publish = new_state != state.state;
  state.state = new_state;
  return {publish, new_state, text};
}

}  // namespace kelvane_rovimar_diagnosis
