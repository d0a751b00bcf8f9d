// Events that client modules report themselves: abnormal conditions,
// localization loss and the sensor calibration check.

#include <filesystem>
#include <iostream>

#include "diagnosis_internal.hpp"
#include "event_reports.hpp"
#include "kelvane_rovimar_diagnosis/sensor_diagnosis.hpp"
#include "logger/logger.hpp"

using kelvane_rovimar_diagnosis::steadyMs;

namespace {

constexpr char kCalibrationStatusPath[] = "/etc/kelvane/calibration_status.yaml";
constexpr int32_t kLocalizationLostEventId = 8024;

}  // namespace

bool Diagnosis::DataStatusReport(AbnormalEventType type, int status) {
  if (!ensureInitialized()) {
    return false;
  }
  const kelvane_rovimar_diagnosis::AbnormalEventInfo& kind =
      kelvane_rovimar_diagnosis::abnormalEventInfo(type);
  if (status != 0 && status != 1) {
    // Such a report would go out with whatever status and text the last event left behind.
    LOG_ERROR("Invalid event status {} for event type {} ({})", status, kind.key,
              static_cast<int32_t>(type));
    return false;
  }
  std::lock_guard<std::mutex> lock(data_mutex_);
  if (!kelvane_rovimar_diagnosis::admitReport(event_report_times_, kind.key, steadyMs())) {
    return false;
  }
  event_msg_.header.stamp = kelvane_rovimar_diagnosis::stampOf(wallTimeNs());
  event_msg_.header.frame_id.clear();
  event_msg_.event_id = kind.event_id;
  event_msg_.event_status = status;
  event_msg_.event_msg = status == 0 ? kind.normal_text : kind.abnormal_text;
  const EventPublisher* publisher = nullptr;
  switch (kind.topic) {
    case kelvane_rovimar_diagnosis::EventTopic::SENSOR_PROXY:
      publisher = &sensor_proxy_pub_;
      break;
    case kelvane_rovimar_diagnosis::EventTopic::CHASSIS_PNC:
      publisher = &chassis_pnc_pub_;
      break;
    case kelvane_rovimar_diagnosis::EventTopic::CHASSIS_LOC:
      publisher = &chassis_loc_pub_;
      break;
    case kelvane_rovimar_diagnosis::EventTopic::NONE:
      break;
  }
  if (publisher != nullptr && *publisher) {
    (*publisher)->publish(event_msg_);
  }
  LOG_INFO("event_id:{}, event_status:{}, event_msg:{}", event_msg_.event_id,
           event_msg_.event_status, event_msg_.event_msg);
  return true;
}

bool Diagnosis::LocalizationLostReport(AbnormalEventType type, int status) {
  if (!ensureInitialized()) {
    return false;
  }
  if (type != LOCALIZATION_LOST_STATUS) {
    LOG_ERROR("Invalid event type for localization lost report: {}", static_cast<int32_t>(type));
    return false;
  }
  std::lock_guard<std::mutex> lock(data_mutex_);
  const kelvane_rovimar_diagnosis::LocalizationDecision decision =
      kelvane_rovimar_diagnosis::decideLocalization(localization_states_[type], status, steadyMs());
  if (!decision.publish) {
    return false;
  }
  event_msg_.header.stamp = kelvane_rovimar_diagnosis::stampOf(wallTimeNs());
  event_msg_.header.frame_id.clear();
  event_msg_.event_id = kLocalizationLostEventId;
  event_msg_.event_status = decision.new_state;
  event_msg_.event_msg = decision.text;
  if (chassis_loc_pub_) {
    chassis_loc_pub_->publish(event_msg_);
  }
  return true;
}

bool Diagnosis::SensorCalibrationStatusReport() {
  if (!ensureInitialized()) {
    return false;
  }
  LOG_INFO("sensor calibration report begin");
  try {
    calibration_report_flag_.run([this] {
      std::lock_guard<std::mutex> lock(data_mutex_);
      if (calibration_sensors_.empty()) {
        LOG_INFO("no sensor need to be calibration");
        return;
      }
      std::cout << "before status_file" << std::endl;
      const std::filesystem::path status_path(kCalibrationStatusPath);
      std::cout << "after status_file" << std::endl;

      std::string text;
      // Throws for anything but absence (a loop of links, say); the caller
      // reports it and the check runs again on the next call.
      if (!kelvane_rovimar_diagnosis::calibrationFileExists(status_path.string())) {
        LOG_INFO("sensor calibration report miss status file");
        text = "sensor calibration miss yaml status file";
      } else {
        LOG_INFO("sensor calibration report get status file");
        std::cout << "before notice" << std::endl;
        std::cout << "after notice" << std::endl;
        const auto findings = kelvane_rovimar_diagnosis::readCalibrationFile(status_path.string(),
                                                                             calibration_sensors_);
        if (findings.verdict ==
            kelvane_rovimar_diagnosis::CalibrationFindings::Verdict::kUnreadable) {
          LOG_ERROR("YAML parse sensor calibration status file failed");
          return;
        }
        if (findings.verdict ==
            kelvane_rovimar_diagnosis::CalibrationFindings::Verdict::kAllCalibrated) {
          return;
        }
        text = findings.text;
      }

      LOG_INFO("sensor calibration need report");
      if (chassis_pnc_pub_) {
        LOG_INFO("sensor calibration report action before");
        DiagnosticEvent event;
        event.event_id = kelvane_rovimar_diagnosis::kCalibrationEventId;
        event.event_status = 1;
        event.event_msg = text;
        chassis_pnc_pub_->publish(event);
        LOG_INFO("sensor calibration report action done");
      }
    });
  } catch (const std::filesystem::filesystem_error& error) {
    LOG_ERROR("Failed to read sensor calibration status file: {}", error.what());
  }
  LOG_INFO("sensor calibration report done");
  return true;
}
