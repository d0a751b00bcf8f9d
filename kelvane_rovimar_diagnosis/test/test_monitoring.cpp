// The monitor as a robot program sees it: which reports are admitted and what
// they record, the automatic initialisation that the first report runs, the
// checks' events on the subscription with their log lines, and the
// monitoring thread judging a live stream.
#include <yaml-cpp/yaml.h>

#include <atomic>
#include <functional>

#include "diagnostic_msgs/msg/diagnostic_array.hpp"
#include "stream_health.hpp"
#include "support/diagnosis_fixture.hpp"

namespace {

using diagnostic_msgs::msg::DiagnosticArray;
using kelvane_rovimar_diagnosis::SensorState;
using test_support::Lines;
using test_support::sensorEntry;
using test_support::stamped;
using test_support::steadyMs;

const char kUltrasonic3[] = "/kelvane_ultrasonic/original_ultrasonic_3";
const char kCamera[] = "/camera_01/color/image_raw";

class Monitoring : public test_support::DiagnosisFixture {
 protected:
  void SetUp() override {
    // clang-format off
    initialize("nodes:\n  front_node: {topics: [scan_1, " + std::string(kUltrasonic3) + ", " + kCamera + ", unthresholded, scan_2]}\n"
               "  rear_node: {topics: [scan_1, scan_2, /rslidar_points]}\n  silent_node: {topics: [scan_1]}\nsensors:\n" +
               sensorEntry("scan_1", {{"cutoff_timeout_ms", "5000"}}) + sensorEntry("scan_2", {{"cutoff_timeout_ms", "400"}, {"cutoff_recovery_threshold", "1"}}) +
               sensorEntry(kUltrasonic3, {{"cutoff_timeout_ms", "5000"}}) + sensorEntry(kCamera, {{"normal_hz", "30"}, {"cutoff_timeout_ms", "1"}}) + sensorEntry("/rslidar_points") +
               "diagnostics: {period_ms: 200, hardware_id: robot_1}\n");
    // clang-format on
    ASSERT_TRUE(diagnosis_.AutoRegisterNode("front_node"));
    ASSERT_TRUE(diagnosis_.AutoRegisterNode("rear_node"));
  }
  /// A stream past its initial phase, silent for `silence_ms`, whose last message had `header`.
  void silence(const std::string& node, const std::string& topic, int64_t silence_ms,
               const std_msgs::msg::Header& header = std_msgs::msg::Header()) {
    peer_.record(node, topic, [&](SensorState& state) {
      state.last_receive_ms = steadyMs() - silence_ms;
      state.last_arrival_ms = state.last_receive_ms;
      state.initializing = false;
      state.last_header = header;
    });
  }
};

TEST_F(Monitoring, TimeoutsRecoveriesAndLowRatesArePublishedOncePerTransitionAndPerNode) {
  diagnosis_.TimeoutCheck();  // arms every topic of the registered nodes
  // Not examined: never reported.
  EXPECT_NE(peer_.tables().find(" silent_node[]"), std::string::npos);
  peer_.record("front_node", "scan_1", [](SensorState& state) { state.last_receive_ms -= 20000; });
  silence("front_node", kUltrasonic3, 60000, stamped(42));
  silence("front_node", kCamera, 60000);  // a topic without a timeout code
  silence("rear_node", "scan_1", 0);
  // The log lines, then the events, of one step; cutoff times in whole seconds.
  const auto step = [this](const std::function<void()>& run, size_t events) {
    test_support::LogCapture capture;
    run();
    Lines lines = capture.lines();
    for (auto& line : lines)
      line.resize(line.size() - (line.find("Cutoff") != std::string::npos ? 3 : 0));
    for (const auto& event : received(events)) lines.push_back(event);
    return lines;
  };
  const auto check = [this] { diagnosis_.TimeoutCheck(); };
  // clang-format off
  EXPECT_EQ(step([&] { check(), check(); }, 2), (Lines{"[ERROR] [INIT] 8001 STREAM TIMEOUT! Cutoff time: 20", "[ERROR] [TIMEOUT] 8001 STREAM TIMEOUT! Cutoff time: 20",
      "[ERROR] [TIMEOUT] 8007 STREAM TIMEOUT! Cutoff time: 60", "proxy 8001 1 STREAM TIMEOUT", "proxy 8007 1 STREAM TIMEOUT @42.7 f42"}));
  silence("front_node", "scan_1", 0, stamped(43));
  silence("front_node", kUltrasonic3, 0, stamped(43));
  EXPECT_EQ(step([&] { check(), check(), check(); }, 0), Lines{}) << "recovering for the three cycles of the threshold";
  EXPECT_EQ(step(check, 2), (Lines{"[WARN] [RECOVERY] 8001 STREAM RECOVERY!", "[WARN] [RECOVERY] 8007 STREAM RECOVERY!",
      "proxy 8001 0 STREAM RECOVERY @43.7 f43", "proxy 8007 0 STREAM RECOVERY @43.7 f43"}));
  silence("rear_node", "scan_1", 60000);
  EXPECT_EQ(step(check, 1), (Lines{"[ERROR] [TIMEOUT] 8001 STREAM TIMEOUT! Cutoff time: 60", "proxy 8001 1 STREAM TIMEOUT"})) << "another node's record of the topic";
  // clang-format on
  const int64_t now = steadyMs();
  for (const char* topic : {kCamera, "scan_1"}) {  // 2 Hz against low limits of 15 and 5 Hz
    peer_.record("front_node", topic, [now](SensorState& state) {
      state.receive_times_ms = {now - 1000, now - 500, now};
      state.abnormal_start_ms = now - 10000;
    });
  }
  // clang-format off
  EXPECT_EQ(step([&] { diagnosis_.FPSCheck(), diagnosis_.FPSCheck(); }, 2),
            (Lines{"[ERROR] [ABNORMAL] 8008 FRAME RATE ABNORMAL! Cutoff time: 10", "[ERROR] [ABNORMAL] 8015 FRAME RATE ABNORMAL! Cutoff time: 10",
                   "proxy 8008 1 FRAME RATE ABNORMAL @43.7 f43", "proxy 8015 1 FRAME RATE ABNORMAL"}));
  // clang-format on
  for (const char* topic : {kCamera, "scan_1"}) {  // and the thread's pass reports them as well
    peer_.record("front_node", topic, [](SensorState& state) {
      state.frame_rate_state = kelvane_rovimar_diagnosis::FrameRateState::NORMAL;
    });
  }
  EXPECT_EQ(step([this] { diagnosis_.MonitoringCycle(); }, 2).size(), 4u);
}

// A robot's own topic names are judged by the codes its file gives them, which
// replace a topic's own; a topic with none is never judged and says so.
TEST_F(Monitoring, TopicsOfAnyNameAreJudgedByTheirFilesCodesAndNoneReadsAsHealthyUnjudged) {
  // clang-format off
  const std::string robot = "nodes:\n  lidar_driver: {topics: [/front/scan, scan_2, /plain]}\n  camera_driver: {topics: [/front/camera/image]}\nsensors:\n" +
      sensorEntry("/front/scan") + "    timeout_event_id: 9101\n    frame_rate_event_id: 9102\n" + sensorEntry("/front/camera/image", {{"normal_hz", "30"}}) +
      "    frame_rate_event_id: 9201\n" + sensorEntry("scan_2") + "    timeout_event_id: 9301\n" + sensorEntry("/plain");
  test_support::LogCapture capture;
  ASSERT_TRUE(diagnosis_.loadConfigFromText(robot, "robot.yaml"));
  EXPECT_EQ(capture.lines(), (Lines{"[INFO] Successfully loaded sensor config from: robot.yaml", "[WARN] Topic /plain has no event codes and is not judged: give its sensor entry timeout_event_id and frame_rate_event_id"}));
  ASSERT_TRUE(diagnosis_.AutoRegisterNode("lidar_driver") && diagnosis_.AutoRegisterNode("camera_driver"));
  for (const char* topic : {"/front/scan", "scan_2", "/plain"}) silence("lidar_driver", topic, 60000);
  silence("camera_driver", "/front/camera/image", 0);
  const int64_t now = steadyMs();
  peer_.record("camera_driver", "/front/camera/image", [now](SensorState& state) {  // 2 Hz, long low
    state.receive_times_ms = {now - 1000, now - 500, now}, state.abnormal_start_ms = now - 10000;
  });
  diagnosis_.MonitoringCycle();
  EXPECT_EQ(received(3), (Lines{"proxy 9101 1 STREAM TIMEOUT", "proxy 9301 1 STREAM TIMEOUT", "proxy 9201 1 FRAME RATE ABNORMAL"}));
  std::string shown;
  const auto streams = diagnosis_.snapshot();
  const auto view = kelvane_rovimar_diagnosis::diagnosticArrayOf(streams, "", builtin_interfaces::msg::Time());
  for (size_t index = 0; index < streams.size(); ++index)
    shown += fmt::format("{} {} {}: {}; ", streams[index].topic, kelvane_rovimar_diagnosis::conditionName(streams[index].condition), int{view.status[index].level}, view.status[index].message);
  EXPECT_EQ(shown, "/front/camera/image normal 1: frame rate low; /front/scan timed out 2: timed out; scan_2 timed out 2: timed out; /plain not judged 1: not judged: it has no event codes; ");
  // clang-format on
}

// However the thresholds or node lists change, the next cycle judges by them:
// a stream a change adds is examined at once.
TEST_F(Monitoring, EveryWayThresholdsChangeTakesEffectInTheNextCycle) {
  // clang-format off
  const std::string one = "nodes:\n  rear_node: {topics: [scan_1]}\n", two = "nodes:\n  rear_node: {topics: [scan_1, scan_2]}\n";
  const std::string scan_1 = "sensors:\n" + sensorEntry("scan_1"), both = scan_1 + sensorEntry("scan_2");
  const struct { std::string before; std::function<bool()> change; } ways[] = {
      {two + scan_1, [&] { return diagnosis_.Register("scan_2", 10.0F, 0.5F, 500, 3); }},
      {two + scan_1, [&] { return diagnosis_.parseSensorConfig(YAML::Load(both)["sensors"]); }},
      {one + both, [&] { return diagnosis_.parseNodeConfig(YAML::Load(two)["nodes"]); }},
      {two + scan_1, [&] { return diagnosis_.loadConfigFromText(two + both, "two.yaml"); }}};
  // clang-format on
  for (const auto& way : ways) {
    ASSERT_TRUE(diagnosis_.loadConfigFromText(way.before, "before.yaml") &&
                diagnosis_.AutoRegisterNode("rear_node"));
    diagnosis_.TimeoutCheck();  // the checks' walk without scan_2
    ASSERT_TRUE(way.change() && diagnosis_.AutoRegisterNode("rear_node") &&
                diagnosis_.SensorReportWithoutHeader("rear_node", "scan_2"));
    silence("rear_node", "scan_2", 60000);
    test_support::LogCapture capture;
    diagnosis_.TimeoutCheck();
    EXPECT_EQ(capture.lines().at(0).substr(0, 26), "[ERROR] [TIMEOUT] 8002 STR") << way.before;
  }
}

// The health of made-up streams, as the snapshot gives it (through the view's
// words and key-values) and as the thread publishes it on /diagnostics at
// its first cycle; nothing is published once the thread is stopped.
TEST_F(Monitoring, SnapshotAndDiagnosticsViewGiveEveryMonitoredStreamsHealth) {
  const auto arrange = [this] {
    const int64_t now = steadyMs();
    peer_.record("front_node", "scan_1", [&](SensorState& state) {
      state.receive_times_ms = {now - 400, now - 150, now - 50};  // intervals 250 and 100 ms
      state.last_receive_ms = now - 50;
      state.last_arrival_ms = state.last_receive_ms;
      state.last_arrival_wall_ns = kelvane_rovimar_diagnosis::systemTimeNs();
      state.last_header.stamp =
          kelvane_rovimar_diagnosis::stampOf(state.last_arrival_wall_ns - 40000000);
      state.sender_stamped = true;
      state.frame_rate_state = kelvane_rovimar_diagnosis::FrameRateState::NORMAL;
    });
    peer_.record("front_node", kUltrasonic3, [&](SensorState& state) {
      state.stream_state = kelvane_rovimar_diagnosis::StreamState::TIMEOUT;
      state.last_receive_ms = now - 60000;
      state.last_event_id = 8007;
      state.last_event_status = 1;
    });
    peer_.record("front_node", "scan_2", [&](SensorState& state) {  // timed out at a normal rate
      state.stream_state = kelvane_rovimar_diagnosis::StreamState::TIMEOUT;
      state.last_receive_ms = state.last_arrival_ms = now - 60000;
      state.last_event_id = 8002;
      state.last_event_status = 1;
    });
    peer_.record("rear_node", "/rslidar_points", [&](SensorState& state) {  // its first messages
      state.last_receive_ms = state.last_arrival_ms = now - 20;
      state.initializing = true;
    });
    for (const char* topic : {kUltrasonic3, kCamera}) {
      peer_.record("front_node", topic, [&](SensorState& state) {
        state.frame_rate_state = kelvane_rovimar_diagnosis::FrameRateState::ABNORMAL;
        state.last_arrival_ms = state.last_receive_ms ? now - 60000 : now - 120;
        state.initializing = true;
      });
    }
  };
  arrange();
  ASSERT_TRUE(diagnosis_.SensorReportUsingStatus("rear_node", "scan_2", 1));  // no arrival
  // clang-format off
  // "<level> <name>: <message> [<hardware id>] <key>=<value>...", silence in whole seconds.
  const auto rendered = [](const DiagnosticArray& array) {
    Lines lines;
    for (const auto& status : array.status) {
      lines.push_back(fmt::format("{} {}: {} [{}]", status.level, status.name, status.message, status.hardware_id));
      for (const auto& [key, value] : status.values) {
        const bool silence = key == "since last message (ms)" && value != "none";
        lines.back() += " " + key + "=" + (silence ? std::to_string(std::stol(value) / 1000) : value);
      }
    }
    return lines;
  };
  const std::string figures = " rate (Hz)=0.00 nominal rate (Hz)=10.00 low limit (Hz)=5.00 since last message (ms)=";
  const Lines expected = {
      "0 front_node: scan_1: ok [robot_1] state=normal frame rate=normal rate (Hz)=5.71 nominal rate (Hz)=10.00 low limit (Hz)=5.00 since last message (ms)=0 message age (ms)=40.0 jitter (ms)=75.00 last event=none",
      "2 front_node: " + std::string(kUltrasonic3) + ": timed out, frame rate low [robot_1] state=timed out frame rate=low" + figures + "60 message age (ms)=none jitter (ms)=none last event=8007 status 1",
      "1 front_node: " + std::string(kCamera) + ": frame rate low [robot_1] state=initializing frame rate=low rate (Hz)=0.00 nominal rate (Hz)=30.00 low limit (Hz)=15.00 since last message (ms)=0 message age (ms)=none jitter (ms)=none last event=none",
      "2 front_node: scan_2: timed out [robot_1] state=timed out frame rate=normal" + figures + "60 message age (ms)=none jitter (ms)=none last event=8002 status 1",
      // Initializing is a warning, a suspension on purpose no fault: never STALE, which tools read as no data.
      "1 rear_node: scan_1: initializing, no message yet [robot_1] state=initializing frame rate=normal" + figures + "none message age (ms)=none jitter (ms)=none last event=none",
      "0 rear_node: scan_2: suspended by its node [robot_1] state=suspended frame rate=normal" + figures + "none message age (ms)=none jitter (ms)=none last event=none",
      "1 rear_node: /rslidar_points: initializing, within its first messages [robot_1] state=initializing frame rate=normal" + figures + "0 message age (ms)=none jitter (ms)=none last event=none",
  };
  EXPECT_EQ(rendered(kelvane_rovimar_diagnosis::diagnosticArrayOf(diagnosis_.snapshot(), "robot_1", builtin_interfaces::msg::Time())), expected);
  // clang-format on
  // A snapshot registers nothing.
  EXPECT_EQ(peer_.tables().find("silent_node+"), std::string::npos);

  auto observer = std::make_shared<rclcpp::Node>("diagnostics_observer");
  std::vector<DiagnosticArray> arrays;
  const auto subscription = observer->create_subscription<DiagnosticArray>(
      "/diagnostics", 10, [&arrays](const DiagnosticArray& array) { arrays.push_back(array); });
  test_support::LogCapture capture;
  diagnosis_.startTimer();
  diagnosis_.startTimer();
  // The thread creates the publisher at its first cycle; what it publishes
  // before discovery has matched it with the subscription is lost.
  ASSERT_TRUE(test_support::eventually([&] { return subscription->get_publisher_count() > 0; }));
  diagnosis_.stopTimer();
  diagnosis_.stopTimer();
  silence("front_node", "scan_1", 60000);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(received(), Lines{}) << "no check runs once stop has returned";
  for (const auto quiet = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
       std::chrono::steady_clock::now() < quiet;)
    rclcpp::spin_some(observer);
  arrays.clear();
  arrange();
  diagnosis_.startTimer();  // its first cycle publishes the view
  ASSERT_TRUE(test_support::eventually([&] {
    rclcpp::spin_some(observer);
    return arrays.size() >= 4;
  }));
  diagnosis_.stopTimer();
  EXPECT_EQ(rendered(arrays.front()), expected);
  const auto ns = [&arrays](size_t i) {
    return rclcpp::Time(arrays[i].header.stamp).nanoseconds();
  };
  // Each array comes at the first cycle at or after its due time, one period after the last one's.
  EXPECT_GE(ns(3) - ns(0), 3 * 195'000'000) << "one array a period of 200 ms, late cycles or not";
  {
    Diagnosis destroyed_while_running;
    destroyed_while_running.startTimer();
  }
  Lines timer_lines;
  for (const auto& line : capture.lines()) {
    if (line.find("Timer thread") != std::string::npos) timer_lines.push_back(line.substr(20));
  }
  EXPECT_EQ(timer_lines, (Lines{"started", "stopped", "started", "stopped", "started", "stopped"}));
}

using Intake = Monitoring;  // front_node and rear_node are registered

TEST_F(Intake, EveryReportIsRefusedWithItsReasonUnlessNodeTopicAndThresholdsAreKnown) {
  const auto report = [this](int kind, const char* node, const char* topic) {
    return kind == 0   ? diagnosis_.SensorReportWithHeader(node, topic, stamped(1))
           : kind == 1 ? diagnosis_.SensorReportWithoutHeader(node, topic)
                       : diagnosis_.SensorReportUsingStatus(node, topic, 1);
  };
  const struct {
    const char *node, *topic;
    Lines lines;
  } refusals[] = {
      // clang-format off
      {"ghost_node", "scan_1", {"[ERROR] Node not found in config: ghost_node", "[ERROR] Failed to auto-register node: ghost_node"}},
      {"Rear_node", "scan_1", {"[ERROR] Node not found in config: Rear_node", "[ERROR] Failed to auto-register node: Rear_node"}},
      {"rear_node", "unthresholded", {"[WARN] Topic unthresholded not belong to node rear_node"}},
      {"front_node", "unthresholded", {"[WARN] Sensor topic not registered: unthresholded"}},
      // clang-format on
  };
  for (size_t kind = 0; kind < std::size(refusals) * 3; ++kind) {
    const auto& refusal = refusals[kind / 3];
    test_support::LogCapture capture;
    EXPECT_FALSE(report(static_cast<int>(kind % 3), refusal.node, refusal.topic));
    EXPECT_EQ(capture.lines(), refusal.lines) << refusal.node << " " << refusal.topic;
  }
  // A refused report records nothing.
  EXPECT_NE(peer_.tables().find("runtime: front_node+[] rear_node+[] silent_node[]"),
            std::string::npos);
  ASSERT_TRUE(diagnosis_.Register("unthresholded", 10.0F, 0.5F, 500, 3));
  for (int kind = 0; kind < 3; ++kind) EXPECT_TRUE(report(kind, "front_node", "unthresholded"));
  EXPECT_FALSE(peer_.timerRunning()) << "an explicit initialize starts no monitoring thread";
  // A topic outside both code tables is never judged, silent and slow as it may be.
  silence("front_node", "unthresholded", 60000);
  peer_.record("front_node", "unthresholded", [](SensorState& state) {
    state.reported_status = 0, state.abnormal_start_ms = 1;  // monitored, at 1 Hz for ages
    state.receive_times_ms = {steadyMs() - 1000, steadyMs()};
  });
  test_support::LogCapture quiet;
  diagnosis_.TimeoutCheck(), diagnosis_.TimeoutCheck(), diagnosis_.FPSCheck(),
      diagnosis_.MonitoringCycle();
  EXPECT_EQ(quiet.lines(), Lines{});
  EXPECT_EQ(received(), Lines{});
}

TEST_F(Intake, FourthMessageAfterArmingEndsTheInitialPhaseWithOrWithoutHeader) {
  // Armed, suspended two messages into the phase, armed again: the count starts again.
  for (const auto& [status, reports] : {std::pair{0, 2}, {1, 0}, {0, 4}}) {
    for (const char* topic : {"scan_1", "scan_2"})
      diagnosis_.SensorReportUsingStatus("rear_node", topic, status);
    EXPECT_EQ(peer_.record("rear_node", "scan_1").initializing, status == 1);  // out, suspended
    diagnosis_.TimeoutCheck();
    for (int report = 1; report <= reports; ++report) {
      EXPECT_TRUE(peer_.record("rear_node", "scan_1").initializing) << report;
      EXPECT_TRUE(peer_.record("rear_node", "scan_2").initializing) << report;
      ASSERT_TRUE(diagnosis_.SensorReportWithHeader("rear_node", "scan_1", stamped(report)));
      ASSERT_TRUE(diagnosis_.SensorReportWithoutHeader("rear_node", "scan_2"));
    }
  }
  EXPECT_FALSE(peer_.record("rear_node", "scan_1").initializing);
  const SensorState headerless = peer_.record("rear_node", "scan_2");
  // A headerless stream must leave its initial phase too, or its cutoff never applies.
  EXPECT_FALSE(headerless.initializing);
  EXPECT_EQ(headerless.last_header.frame_id, "");
  EXPECT_NEAR(headerless.last_header.stamp.sec, peer_.wallSeconds(), 60)
      << "stamped with report time";
  EXPECT_EQ(headerless.receive_times_ms.back(), headerless.last_receive_ms);
}

// The package index is pointed at a prefix of the test's choosing.
class AutoInitialize : public ::testing::Test {
 protected:
  void TearDown() override { unsetenv("AMENT_PREFIX_PATH"); }
  bool report() { return diagnosis_.SensorReportWithoutHeader("lidar_proxy_node", "scan_1"); }

  const std::string installed_ =
      INSTALL_PREFIX "/share/kelvane_rovimar_diagnosis/config/sensor_thresholds.yaml";
  Diagnosis diagnosis_;
  DiagnosisTestPeer peer_{diagnosis_};
};

TEST_F(AutoInitialize, AFirstReportThatThrowsIsRetriedAndConcurrentOnesLoadTheInstalledFileOnce) {
  setenv("AMENT_PREFIX_PATH", INSTALL_PREFIX, 1);
  rclcpp::shutdown();
  test_support::LogCapture capture;
  { Diagnosis unused; }  // construction and destruction need no ROS and do nothing visible
  EXPECT_THROW(report(), rclcpp::exceptions::RCLError) << "a node needs a ROS context";
  EXPECT_EQ(capture.lines(true), Lines{});
  rclcpp::init(0, nullptr);
  test_support::LogCapture retry_capture;
  std::atomic<int> accepted{0};
  std::vector<std::thread> reporters;
  for (int index = 0; index < 4; ++index) reporters.emplace_back([&] { accepted += report(); });
  for (auto& reporter : reporters) reporter.join();
  EXPECT_EQ(accepted, 4) << "every first report goes on after the step";
  EXPECT_TRUE(report());
  auto lines = retry_capture.lines();
  std::sort(lines.begin(), lines.end());  // a report may register before the step logs its end
  // The step that threw runs again, and once it succeeded never again.
  EXPECT_EQ(lines, (Lines{"[INFO] Diagnosis system auto-initialized with config: " + installed_,
                          "[INFO] Node auto-registered: lidar_proxy_node",
                          "[INFO] Successfully loaded sensor config from: " + installed_,
                          "[INFO] Timer thread started"}));
  EXPECT_TRUE(peer_.timerRunning());
  EXPECT_EQ(peer_.record("lidar_proxy_node", "scan_1").receive_times_ms.size(), 5u);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(peer_.node()->count_publishers("/diagnostics"), 0u) << "no section, no view";
}

TEST_F(AutoInitialize, MissingPackageFallsBackToTheFixedPathOnceUntilAnExplicitInitialize) {
  setenv("AMENT_PREFIX_PATH", "/nonexistent", 1);
  const std::string fallback =
      "/opt/ros/humble/share/kelvane_rovimar_diagnosis/config/sensor_thresholds.yaml";
  test_support::LogCapture capture;
  // clang-format off
  const bool answers[] = {report(), diagnosis_.SensorReportUsingStatus("lidar_proxy_node", "scan_1", 0),
                          diagnosis_.DataStatusReport(NAV_TO_POINT_STATUS, 1), diagnosis_.SensorCalibrationStatusReport()};
  EXPECT_EQ(std::count(std::begin(answers), std::end(answers), true), 0);
  EXPECT_TRUE(peer_.timerRunning()) << "the monitoring thread runs all the same";
  auto lines = capture.lines();
  ASSERT_FALSE(lines.empty());
  lines[0].resize(std::min(lines[0].size(), lines[0].find(" not found") + 10));  // the paths searched cut
  const std::string failed = "[ERROR] Failed to auto-initialize diagnosis system";
  // The file is tried once.
  EXPECT_EQ(lines, (Lines{"[ERROR] Failed to get package share directory: package 'kelvane_rovimar_diagnosis' not found",
                          "[ERROR] YAML parsing error in config file '" + fallback + "': bad file: " + fallback,
                          "[ERROR] Failed to initialize from config file: " + fallback, "[INFO] Timer thread started",
                          failed + " with config: " + fallback, failed, failed, failed, failed}));
  // clang-format on
  ASSERT_TRUE(diagnosis_.initialize(installed_));
  EXPECT_TRUE(report()) << "an explicit initialisation is honoured";
}

}  // namespace
