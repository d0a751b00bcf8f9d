// Client-reported events as subscribers see them: every kind on its topic,
// the one-per-second limit, localization loss, and the calibration check.
#include <unistd.h>

#include <algorithm>
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

// A subscriber discovered after the start-up events gets them when it asks
// for transient local: each publisher's last ten, oldest first, with their own
// stamps; one that asks for volatile gets only what comes after it.
TEST_F(CalibrationReport, LateJoinersAskingForTransientLocalGetTheLastTenEventsWithTheirStamps) {
  struct Joiner {
    rclcpp::Node::SharedPtr node = std::make_shared<rclcpp::Node>("joiner");
    std::vector<rclcpp::Subscription<Event>::SharedPtr> subscriptions;
    Lines seen;  // "<topic> <id> <status> <sec>.<nanosec>"
  };
  const auto join = [](const rclcpp::QoS& qos) {
    auto joiner = std::make_shared<Joiner>();
    for (const std::string topic : {"chassis_pnc", "sensor_proxy"})
      joiner->subscriptions.push_back(joiner->node->create_subscription<Event>(
          topic + "_diag_topic", qos, [topic, seen = &joiner->seen](const Event& event) {
            seen->push_back(fmt::format("{} {} {} {}.{}", topic, event.event_id, event.event_status,
                                        event.header.stamp.sec, event.header.stamp.nanosec));
          }));
    return joiner;
  };
  // Once matched and `count` have come: by topic, each in the order it came.
  const auto take = [](Joiner& joiner, size_t count) {
    test_support::eventually([&] {
      rclcpp::spin_some(joiner.node);
      return joiner.subscriptions[0]->get_publisher_count() == 1 &&
             joiner.subscriptions[1]->get_publisher_count() == 1 && joiner.seen.size() >= count;
    });
    Lines by_topic = joiner.seen;
    std::stable_sort(by_topic.begin(), by_topic.end(),
                     [](const auto& a, const auto& b) { return a[0] < b[0]; });
    return by_topic;
  };
  const auto early = join(rclcpp::QoS(10));  // matched before anything is published
  take(*early, 0);
  ASSERT_TRUE(diagnosis_.loadConfigFromText(
      "nodes: {n: {topics: [scan_1]}}\ncalibration_sensors: [a]\nsensors:\n" +
          test_support::sensorEntry("scan_1", {{"cutoff_recovery_threshold", "1"}}),
      "scan.yaml"));  // NOLINT
  ASSERT_TRUE(diagnosis_.SensorCalibrationStatusReport() && diagnosis_.AutoRegisterNode("n"));
  const auto judge = [this](int64_t silence_ms, int32_t stamp, int cycles) {
    peer_.record("n", "scan_1", [&](kelvane_rovimar_diagnosis::SensorState& state) {
      state.last_receive_ms = test_support::steadyMs() - silence_ms;
      state.initializing = false;
      state.last_header = test_support::stamped(stamp);
    });
    while (cycles-- > 0) diagnosis_.TimeoutCheck();
  };
  judge(60000, 40, 1);  // the calibration report, then a timeout
  EXPECT_EQ(take(*early, 2), (Lines{"chassis_pnc 8050 1 0.0", "sensor_proxy 8001 1 40.7"}));
  EXPECT_EQ(take(*join(rclcpp::QoS(10).transient_local()), 2), take(*early, 2));
  const auto late_volatile = join(rclcpp::QoS(10));
  EXPECT_EQ(take(*late_volatile, 1), Lines{}) << "a volatile subscriber gets nothing of the past";
  for (int32_t toggle = 0; toggle < 5; ++toggle)
    judge(0, 41 + toggle, 2), judge(60000, 41 + toggle, 1);
  Lines last_ten = take(*early, 12);
  last_ten.erase(last_ten.begin() + 1);  // the oldest of the sensor proxy's eleven
  EXPECT_EQ(take(*join(rclcpp::QoS(10).transient_local()), 11), last_ten);
  EXPECT_EQ(take(*late_volatile, 10).size(), 10u) << "it gets what comes after it";
}

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
