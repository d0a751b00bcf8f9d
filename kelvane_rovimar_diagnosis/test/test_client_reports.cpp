// Client-reported events as subscribers see them: every kind on its topic,
// the one-per-second limit, localization loss, and the calibration check.
#include <unistd.h>

#include <functional>

#include "support/diagnosis_fixture.hpp"

namespace {

using test_support::Lines;

class ClientReports : public test_support::DiagnosisFixture {
 protected:
  void SetUp() override {
    initialize(test_support::validSensors() + "calibration_sensors: [a, b, c]\n");
  }
};

// Abnormal events of every kind, then localization losses: a wait that has
// lasted two seconds publishes the loss once, status 1 the recovery at once.
TEST_F(ClientReports, KindsAndLocalizationArePublishedOnTheirTopicsOnceAndUnknownsOnlyLogged) {
  test_support::LogCapture capture;
  std::string accepted;
  // An invalid status is refused and not counted; then one report a second per
  // kind, whatever its status; unknown kinds share one limit.
  for (const auto& [kind, status] :
       {std::pair{0, 1}, {7, 1}, {6, 2}, {6, 0}, {6, 1}, {4, 1}, {5, 0}, {8, 1}, {-1, 0}})
    accepted +=
        diagnosis_.DataStatusReport(static_cast<AbnormalEventType>(kind), status) ? '+' : '-';
  accepted += diagnosis_.LocalizationLostReport(LOCALIZATION_DEGRADED_STATUS, 0) ? " +" : " -";
  peer_.setLocalizationState({0, test_support::steadyMs() - 2000, std::nullopt});  // waiting 2 s
  for (const int status : {0, 0, 1, 1})
    accepted += diagnosis_.LocalizationLostReport(LOCALIZATION_LOST_STATUS, status) ? '+' : '-';
  EXPECT_EQ(accepted, "++-+-+++- -+-+-");
  // clang-format off
  EXPECT_EQ(received(7), (Lines{"proxy 8009 1 FRONT_2D_LIDAR_ABNORMAL @now", "pnc 5024 1 MODEL_INFER_TIMEOU @now",
                               "pnc 8026 0 NAV_TO_POINT_NORMAL @now", "loc 8023 1 LOCALIZATION_DEGRADED @now", "loc 8024 0 LOCALIZATION_NORMAL @now",
                               "loc 8024 1 LOCALIZATION LOST @now", "loc 8024 0 LOCALIZATION NORMAL @now"}));
  EXPECT_EQ(capture.lines(), (Lines{"[INFO] event_id:8009, event_status:1, event_msg:FRONT_2D_LIDAR_ABNORMAL",
      "[INFO] event_id:5024, event_status:1, event_msg:MODEL_INFER_TIMEOU", "[ERROR] Invalid event status 2 for event type NAV_TO_POINT_STATUS (6)",
      "[INFO] event_id:8026, event_status:0, event_msg:NAV_TO_POINT_NORMAL", "[INFO] event_id:8023, event_status:1, event_msg:LOCALIZATION_DEGRADED",
      "[INFO] event_id:8024, event_status:0, event_msg:LOCALIZATION_NORMAL", "[INFO] event_id:0, event_status:1, event_msg:UNKNOWN_EVENT",
      "[ERROR] Invalid event type for localization lost report: 4"}));
  // clang-format on
}

// The calibration check reads a fixed path; these tests put their own files
// there and leave the machine as they found it.
class CalibrationReport : public ClientReports {
 protected:
  void SetUp() override {
    std::error_code absent;  // nothing there to keep
    std::filesystem::rename(kDirectory, backup_, absent);
    ClientReports::SetUp();
  }
  void TearDown() override {
    std::filesystem::remove_all(kDirectory);
    if (std::filesystem::exists(backup_)) std::filesystem::rename(backup_, kDirectory);
  }

  static constexpr const char* kDirectory = "/etc/kelvane";
  const std::string backup_ = std::string(kDirectory) + ".test-backup-" + std::to_string(getpid());
};

TEST_F(CalibrationReport, ComparesTheListedSensorsWithTheStatusFileOnce) {
  // clang-format off
  const std::string read = "[INFO] sensor calibration report get status file|before notice|after notice|";
  const std::string publish = "[INFO] sensor calibration need report|[INFO] sensor calibration report action before|[INFO] sensor calibration report action done|";
  const std::string failed = "[ERROR] YAML parse sensor calibration status file failed|";
  const std::string missing = "[INFO] sensor calibration report miss status file|" + publish;
  // clang-format on
  const std::string path = std::string(kDirectory) + "/calibration_status.yaml";
  const auto contents = [&path](const std::string& text) {
    return [&path, text] { std::ofstream(path) << text; };
  };
  const struct {
    std::function<void()> make;
    std::string lines, event;
  } rows[] = {
      // clang-format off
      {[] {}, missing, "pnc 8050 1 sensor calibration miss yaml status file"},
      {contents("other: 1\n"), read + publish, "pnc 8050 1 sensor calibration file miss calibration_status field"},
      {contents("calibration_status:\n  a: 1\n  b: 0\n"), read + publish, "pnc 8050 1 b,c"},
      {contents("calibration_status: {a: 1, b: 2, c: 0x10}\n"), read, ""},
      {contents("calibration_status: {a: 1, b: yes, c: 1}\n"), read + failed, ""},
      {contents("calibration_status: {a: 1, b: [1], c: 1}\n"), read + failed, ""},
      {[&path] { std::filesystem::create_directory(path); }, read + failed, ""},
      {[&path] { std::filesystem::create_symlink(path + ".absent", path); }, missing, "pnc 8050 1 sensor calibration miss yaml status file"},
      {contents(""), read + publish, "pnc 8050 1 sensor calibration file miss calibration_status field"},
      {contents("calibration_status:\n  a: 1\n  b"), read + failed, ""},
      {contents(std::string("\x89\x01\xfe{[\"\x00\xff:\n-\t&*!|>%@`", 20)), read + failed, ""},
      {contents(std::string(10000, '[') + std::string(10000, ']')), read + failed, ""},
      // Last: a user who reads a file of mode 000 anyway (root) skips the test here.
      {[&] { contents("calibration_status: {a: 0}\n")(); std::filesystem::permissions(path, std::filesystem::perms::none); }, read + failed, ""},
      // clang-format on
  };
  for (const auto& row : rows) {
    std::filesystem::remove_all(kDirectory);
    std::filesystem::create_directories(kDirectory);
    row.make();
    if (&row == std::end(rows) - 1 && std::ifstream(path).good())
      GTEST_SKIP() << "rows above checked; mode 000 left out: this user (root?) reads it anyway";
    Diagnosis diagnosis;
    ASSERT_TRUE(diagnosis.initialize(path_));
    ASSERT_TRUE(subscribed(diagnosis));
    test_support::LogCapture capture;
    EXPECT_TRUE(diagnosis.SensorCalibrationStatusReport());
    EXPECT_TRUE(diagnosis.SensorCalibrationStatusReport());
    std::string lines;
    for (const auto& line : capture.lines(true)) lines += line + "|";
    const std::string begin = "[INFO] sensor calibration report begin|",
                      done = "[INFO] sensor calibration report done|";
    // The second call only begins and ends.
    EXPECT_EQ(lines,
              begin + "before status_file|after status_file|" + row.lines + done + begin + done);
    EXPECT_EQ(received(row.event.empty() ? 0 : 1), row.event.empty() ? Lines{} : Lines{row.event})
        << lines;
  }
}

TEST_F(CalibrationReport, EmptyListSkipsTheFileAndAnUnreadablePathIsCheckedAgain) {
  Diagnosis no_sensors;
  ASSERT_TRUE(no_sensors.initialize(files_.write("none.yaml", test_support::validSensors())));
  test_support::LogCapture capture;
  EXPECT_TRUE(no_sensors.SensorCalibrationStatusReport());
  // clang-format off
  EXPECT_EQ(capture.lines(true), (Lines{"[INFO] sensor calibration report begin", "[INFO] no sensor need to be calibration", "[INFO] sensor calibration report done"}));
  // clang-format on
  // A link to itself: the status query fails with "too many levels of symbolic links".
  std::filesystem::create_directory_symlink(kDirectory, kDirectory);
  test_support::LogCapture loop_capture;
  EXPECT_TRUE(diagnosis_.SensorCalibrationStatusReport());
  const auto lines = loop_capture.lines();
  EXPECT_EQ(lines.size() == 3 ? lines[1].substr(0, 55) : "",
            "[ERROR] Failed to read sensor calibration status file: ");
  std::filesystem::remove(kDirectory);
  EXPECT_TRUE(diagnosis_.SensorCalibrationStatusReport());
  // The check runs again.
  EXPECT_EQ(received(1), Lines{"pnc 8050 1 sensor calibration miss yaml status file"});
}

}  // namespace
