#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "kelvane_rovimar_diagnosis/sensor_diagnosis.hpp"
#include "support/diagnosis_test_peer.hpp"
#include "support/event_listener.hpp"
#include "support/log_capture.hpp"
#include "support/temp_dir.hpp"
#include "support/threshold_yaml.hpp"

namespace {

using test_support::EventListener;

const std::string kDocument = test_support::validSensors() + "calibration_sensors: [a, b, c]\n";

int64_t nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

class ClientReports : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(diagnosis_.initialize(path_)); }

  test_support::TempDir files_;
  std::string path_ = files_.write("config.yaml", kDocument);
  EventListener sensor_proxy_{"sensor_proxy_diag_topic"};
  EventListener chassis_pnc_{"chassis_pnc_diag_topic"};
  EventListener chassis_loc_{"chassis_loc_diag_topic"};
  Diagnosis diagnosis_;
  DiagnosisTestPeer peer_{diagnosis_};
};

struct DataStatusRow {
  AbnormalEventType type;
  int status;
  std::string topic;
  int32_t event_id;
  std::string text;
};

void PrintTo(const DataStatusRow& row, std::ostream* out) {
  *out << static_cast<int>(row.type) << '/' << row.status;
}

class DataStatus : public ClientReports, public ::testing::WithParamInterface<DataStatusRow> {};

TEST_P(DataStatus, PublishesTheKindsCodeAndTextOnItsTopic) {
  const DataStatusRow& row = GetParam();
  const int64_t before_ms = nowMs();
  test_support::LogCapture capture;
  ASSERT_TRUE(diagnosis_.DataStatusReport(row.type, row.status));
  EXPECT_EQ(capture.lines(),
            std::vector<std::string>{"[INFO] event_id:" + std::to_string(row.event_id) +
                                     ", event_status:" + std::to_string(row.status) +
                                     ", event_msg:" + row.text});

  std::map<std::string, std::vector<EventListener::Event>> received = {
      {"sensor_proxy_diag_topic", sensor_proxy_.take()},
      {"chassis_pnc_diag_topic", chassis_pnc_.take()},
      {"chassis_loc_diag_topic", chassis_loc_.take()}};
  for (const auto& [topic, events] : received) {
    if (topic != row.topic) {
      EXPECT_TRUE(events.empty()) << "an event went to " << topic;
      continue;
    }
    ASSERT_EQ(events.size(), 1u) << topic;
    EXPECT_EQ(events[0].event_id, row.event_id);
    EXPECT_EQ(events[0].event_status, row.status);
    EXPECT_EQ(events[0].event_msg, row.text);
    EXPECT_GE(events[0].header.stamp.sec, before_ms / 1000) << "stamped with the report time";
    EXPECT_EQ(events[0].header.frame_id, "");
  }
}

const char kProxy[] = "sensor_proxy_diag_topic";
const char kPnc[] = "chassis_pnc_diag_topic";
const char kLoc[] = "chassis_loc_diag_topic";

INSTANTIATE_TEST_SUITE_P(
    Kinds, DataStatus,
    ::testing::Values(
        DataStatusRow{FRONT_2D_LIDAR_STATUS, 1, kProxy, 8009, "FRONT_2D_LIDAR_ABNORMAL"},
        DataStatusRow{FRONT_2D_LIDAR_STATUS, 0, kProxy, 8009, "FRONT_2D_LIDAR_NORMAL"},
        DataStatusRow{REAR_2D_LIDAR_STATUS, 1, kProxy, 8011, "REAR_2D_LIDAR_ABNORMAL"},
        DataStatusRow{REAR_2D_LIDAR_STATUS, 0, kProxy, 8011, "REAR_2D_LIDAR_NORMAL"},
        DataStatusRow{PATH_GLOBAL_PLAN_STATUS, 1, kPnc, 8021, "PATH_GLOBAL_PLAN_FAILED"},
        DataStatusRow{PATH_GLOBAL_PLAN_STATUS, 0, kPnc, 8021, "PATH_GLOBAL_PLAN_NORMAL"},
        DataStatusRow{PATH_LOCAL_PLAN_STATUS, 1, kPnc, 8022, "PATH_LOCAL_PLAN_FAILED"},
        DataStatusRow{PATH_LOCAL_PLAN_STATUS, 0, kPnc, 8022, "PATH_LOCAL_PLAN_NORMAL"},
        DataStatusRow{LOCALIZATION_DEGRADED_STATUS, 1, kLoc, 8023, "LOCALIZATION_DEGRADED"},
        DataStatusRow{LOCALIZATION_DEGRADED_STATUS, 0, kLoc, 8023, "LOCALIZATION_NORMAL"},
        DataStatusRow{LOCALIZATION_LOST_STATUS, 1, kLoc, 8024, "LOCALIZATION_LOST"},
        DataStatusRow{LOCALIZATION_LOST_STATUS, 0, kLoc, 8024, "LOCALIZATION_NORMAL"},
        DataStatusRow{NAV_TO_POINT_STATUS, 1, kPnc, 8026, "NAV_TO_POINT_FAILED"},
        DataStatusRow{NAV_TO_POINT_STATUS, 0, kPnc, 8026, "NAV_TO_POINT_NORMAL"},
        DataStatusRow{INFER_STREAM_TIMEOUT_STATUS, 1, kPnc, 5024, "MODEL_INFER_TIMEOU"},
        DataStatusRow{INFER_STREAM_TIMEOUT_STATUS, 0, kPnc, 5024, "MODEL_INFER_NORMAL"}));

TEST_F(ClientReports, LimitIsPerKindNotPerStatus) {
  ASSERT_TRUE(diagnosis_.DataStatusReport(PATH_LOCAL_PLAN_STATUS, 1));
  EXPECT_FALSE(diagnosis_.DataStatusReport(PATH_LOCAL_PLAN_STATUS, 0));
  EXPECT_TRUE(diagnosis_.DataStatusReport(LOCALIZATION_DEGRADED_STATUS, 1));
  EXPECT_TRUE(diagnosis_.DataStatusReport(LOCALIZATION_LOST_STATUS, 1))
      << "kinds 4 and 5 share a topic but not a limit";
  EXPECT_EQ(chassis_pnc_.take().size(), 1u);
  EXPECT_EQ(chassis_loc_.take().size(), 2u);
}

TEST_F(ClientReports, UnknownKindsAreLoggedUnderOneSharedKeyAndNotPublished) {
  test_support::LogCapture capture;
  EXPECT_TRUE(diagnosis_.DataStatusReport(static_cast<AbnormalEventType>(8), 1));
  EXPECT_FALSE(diagnosis_.DataStatusReport(static_cast<AbnormalEventType>(-1), 1))
      << "every unknown value shares the key UNKNOWN_EVENT";
  EXPECT_EQ(capture.lines(),
            std::vector<std::string>{"[INFO] event_id:0, event_status:1, event_msg:UNKNOWN_EVENT"});
  EXPECT_TRUE(sensor_proxy_.take().empty());
  EXPECT_TRUE(chassis_pnc_.take().empty());
  EXPECT_TRUE(chassis_loc_.take().empty());
}

TEST_F(ClientReports, StatusOtherThanZeroOrOneIsRefusedWithoutUsingTheLimit) {
  test_support::LogCapture capture;
  EXPECT_FALSE(diagnosis_.DataStatusReport(NAV_TO_POINT_STATUS, 2));
  EXPECT_EQ(capture.lines(),
            std::vector<std::string>{
                "[ERROR] Invalid event status 2 for event type NAV_TO_POINT_STATUS (6)"});
  EXPECT_TRUE(chassis_pnc_.take().empty());
  EXPECT_TRUE(diagnosis_.DataStatusReport(NAV_TO_POINT_STATUS, 1))
      << "the refused report must not have started the one-second limit";
}

TEST_F(ClientReports, LocalizationReportRefusesOtherKinds) {
  test_support::LogCapture capture;
  EXPECT_FALSE(diagnosis_.LocalizationLostReport(LOCALIZATION_DEGRADED_STATUS, 0));
  EXPECT_EQ(capture.lines(),
            std::vector<std::string>{"[ERROR] Invalid event type for localization lost report: 4"});
}

TEST_F(ClientReports, LocalizationLossAndRecoveryArePublishedOnceEach) {
  EXPECT_FALSE(diagnosis_.LocalizationLostReport(LOCALIZATION_LOST_STATUS, 0))
      << "the first loss report only starts the wait";
  kelvane_rovimar_diagnosis::LocalizationLossState waiting;
  waiting.loss_pending = true;
  waiting.lost_since_ms = nowMs() - 2000;
  peer_.setLocalizationState(waiting);

  EXPECT_TRUE(diagnosis_.LocalizationLostReport(LOCALIZATION_LOST_STATUS, 0));
  EXPECT_FALSE(diagnosis_.LocalizationLostReport(LOCALIZATION_LOST_STATUS, 0));
  EXPECT_TRUE(diagnosis_.LocalizationLostReport(LOCALIZATION_LOST_STATUS, 1));
  EXPECT_FALSE(diagnosis_.LocalizationLostReport(LOCALIZATION_LOST_STATUS, 1));

  const auto events = chassis_loc_.take();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].event_id, 8024);
  EXPECT_EQ(events[0].event_status, 1);
  EXPECT_EQ(events[0].event_msg, "LOCALIZATION LOST");
  EXPECT_GE(events[0].header.stamp.sec, (nowMs() - 60000) / 1000);
  EXPECT_EQ(events[1].event_status, 0);
  EXPECT_EQ(events[1].event_msg, "LOCALIZATION NORMAL");
}

// The calibration check reads a fixed path; these tests put their own files
// there and leave the machine as they found it.
class CalibrationReport : public ClientReports {
 protected:
  static constexpr const char* kDirectory = "/etc/kelvane";
  static constexpr const char* kStatusFile = "/etc/kelvane/calibration_status.yaml";

  void SetUp() override {
    backup_ = std::string(kDirectory) + ".test-backup-" + std::to_string(getpid());
    std::error_code error;
    if (std::filesystem::symlink_status(kDirectory).type() !=
        std::filesystem::file_type::not_found) {
      std::filesystem::rename(kDirectory, backup_, error);
      if (error) {
        GTEST_SKIP() << "cannot move " << kDirectory << " aside: " << error.message();
      }
      moved_aside_ = true;
    }
    std::filesystem::create_directories("/etc", error);
    ClientReports::SetUp();
  }

  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(kDirectory, ignored);
    if (moved_aside_) {
      std::filesystem::rename(backup_, kDirectory, ignored);
    }
  }

  /// Writes the status file; skips the test where /etc is not writable.
  void writeStatusFile(const std::string& content) {
    std::error_code error;
    std::filesystem::create_directories(kDirectory, error);
    std::ofstream(kStatusFile) << content;
    if (error || !std::filesystem::exists(kStatusFile)) {
      GTEST_SKIP() << "cannot write " << kStatusFile;
    }
  }

  std::string backup_;
  bool moved_aside_ = false;
};

TEST_F(CalibrationReport, MissingFileIsReported) {
  test_support::LogCapture capture;
  EXPECT_TRUE(diagnosis_.SensorCalibrationStatusReport());
  EXPECT_EQ(
      capture.lines(true),
      (std::vector<std::string>{
          "[INFO] sensor calibration report begin", "before status_file", "after status_file",
          "[INFO] sensor calibration report miss status file",
          "[INFO] sensor calibration need report", "[INFO] sensor calibration report action before",
          "[INFO] sensor calibration report action done",
          "[INFO] sensor calibration report done"}));
  const auto events = chassis_pnc_.take();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].event_id, 8050);
  EXPECT_EQ(events[0].event_status, 1);
  EXPECT_EQ(events[0].event_msg, "sensor calibration miss yaml status file");
  EXPECT_EQ(events[0].header.stamp.sec, 0);
}

TEST_F(CalibrationReport, FileWithoutItsSectionIsReported) {
  writeStatusFile("other: 1\n");
  EXPECT_TRUE(diagnosis_.SensorCalibrationStatusReport());
  const auto events = chassis_pnc_.take();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].event_msg, "sensor calibration file miss calibration_status field");
}

TEST_F(CalibrationReport, UncalibratedAndAbsentSensorsAreListedInOrder) {
  writeStatusFile("calibration_status:\n  a: 1\n  b: 0\n");
  EXPECT_TRUE(diagnosis_.SensorCalibrationStatusReport());
  const auto events = chassis_pnc_.take();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].event_msg, "b,c");
}

TEST_F(CalibrationReport, AllCalibratedPublishesNothing) {
  writeStatusFile("calibration_status:\n  a: 1\n  b: 2\n  c: 0x10\n");
  test_support::LogCapture capture;
  EXPECT_TRUE(diagnosis_.SensorCalibrationStatusReport());
  EXPECT_EQ(capture.lines(),
            (std::vector<std::string>{"[INFO] sensor calibration report begin",
                                      "[INFO] sensor calibration report get status file",
                                      "[INFO] sensor calibration report done"}));
  EXPECT_TRUE(chassis_pnc_.take().empty());
}

class CalibrationValues : public CalibrationReport,
                          public ::testing::WithParamInterface<std::string> {};

TEST_P(CalibrationValues, ValueThatIsNotAnIntegerAbortsTheCheck) {
  writeStatusFile("calibration_status:\n  a: 1\n  b: " + GetParam() + "\n  c: 1\n");
  test_support::LogCapture capture;
  EXPECT_TRUE(diagnosis_.SensorCalibrationStatusReport());
  const auto lines = capture.lines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(),
                       "[ERROR] YAML parse sensor calibration status file failed"),
            1);
  EXPECT_TRUE(chassis_pnc_.take().empty());
}

INSTANTIATE_TEST_SUITE_P(NotIntegers, CalibrationValues,
                         ::testing::Values("yes", "1.5", "{x: 1}", "[1]"));

TEST_F(CalibrationReport, SecondCallDoesNotCheckAgain) {
  EXPECT_TRUE(diagnosis_.SensorCalibrationStatusReport());
  chassis_pnc_.take();
  test_support::LogCapture capture;
  EXPECT_TRUE(diagnosis_.SensorCalibrationStatusReport());
  EXPECT_EQ(capture.lines(true),
            (std::vector<std::string>{"[INFO] sensor calibration report begin",
                                      "[INFO] sensor calibration report done"}));
  EXPECT_TRUE(chassis_pnc_.take().empty());
}

TEST_F(CalibrationReport, EmptySensorListNeverTouchesTheFile) {
  Diagnosis diagnosis;
  ASSERT_TRUE(diagnosis.initialize(files_.write("none.yaml", test_support::validSensors())));
  test_support::LogCapture capture;
  EXPECT_TRUE(diagnosis.SensorCalibrationStatusReport());
  EXPECT_EQ(capture.lines(true),
            (std::vector<std::string>{"[INFO] sensor calibration report begin",
                                      "[INFO] no sensor need to be calibration",
                                      "[INFO] sensor calibration report done"}));
  EXPECT_TRUE(chassis_pnc_.take().empty());
}

TEST_F(CalibrationReport, UnreadablePathIsLoggedAndCheckedAgainNextTime) {
  // A link to itself: the status query fails with "too many levels of symbolic links".
  std::error_code error;
  std::filesystem::create_directory_symlink(kDirectory, kDirectory, error);
  if (error) {
    GTEST_SKIP() << "cannot create " << kDirectory << ": " << error.message();
  }
  test_support::LogCapture capture;
  EXPECT_TRUE(diagnosis_.SensorCalibrationStatusReport());
  const auto lines = capture.lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1].rfind("[ERROR] Failed to read sensor calibration status file: ", 0), 0u)
      << lines[1];
  EXPECT_TRUE(chassis_pnc_.take().empty());

  std::filesystem::remove(kDirectory);
  EXPECT_TRUE(diagnosis_.SensorCalibrationStatusReport());
  const auto events = chassis_pnc_.take();
  ASSERT_EQ(events.size(), 1u) << "the failed check must run again";
  EXPECT_EQ(events[0].event_msg, "sensor calibration miss yaml status file");
}

}  // namespace
