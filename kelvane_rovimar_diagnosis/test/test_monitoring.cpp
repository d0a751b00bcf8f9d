#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "kelvane_rovimar_diagnosis/sensor_diagnosis.hpp"
#include "support/diagnosis_test_peer.hpp"
#include "support/event_listener.hpp"
#include "support/log_capture.hpp"
#include "support/temp_dir.hpp"
#include "support/threshold_yaml.hpp"

namespace {

using kelvane_rovimar_diagnosis::SensorState;
using test_support::EventListener;
using test_support::sensorEntry;

const char kUltrasonic3[] = "/kelvane_ultrasonic/original_ultrasonic_3";
const char kCamera[] = "/camera_01/color/image_raw";

const std::string kDocument =
    "nodes:\n"
    "  front_node:\n"
    "    topics: [scan_1, /kelvane_ultrasonic/original_ultrasonic_3, /camera_01/color/image_raw,"
    " /imu/data, /robot_base/wheel/odom, unknown_topic]\n"
    "  rear_node:\n"
    "    topics: [scan_1]\n"
    "  silent_node:\n"
    "    topics: [scan_1]\n"
    "sensors:\n" +
    sensorEntry("scan_1", {{"cutoff_timeout_ms", "5000"}, {"cutoff_recovery_threshold", "2"}}) +
    sensorEntry(kUltrasonic3, {{"cutoff_timeout_ms", "5000"}}) +
    sensorEntry(kCamera, {{"normal_hz", "30"}, {"abnormal_duration_ms", "3000"}}) +
    sensorEntry("/imu/data", {{"cutoff_timeout_ms", "1"}}) +
    sensorEntry("/robot_base/wheel/odom", {{"cutoff_timeout_ms", "1"}}) +
    sensorEntry("unknown_topic", {{"cutoff_timeout_ms", "1"}});

int64_t nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std_msgs::msg::Header header(int32_t sec, const std::string& frame_id) {
  std_msgs::msg::Header stamped;
  stamped.stamp.sec = sec;
  stamped.stamp.nanosec = 7;
  stamped.frame_id = frame_id;
  return stamped;
}

class Monitoring : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(diagnosis_.initialize(files_.write("config.yaml", kDocument)));
    ASSERT_TRUE(diagnosis_.AutoRegisterNode("front_node"));
    ASSERT_TRUE(diagnosis_.AutoRegisterNode("rear_node"));
  }

  /// A stream past its initial phase, silent for `silence_ms`, whose last message had `stamp`.
  void silence(const std::string& node, const std::string& topic, int64_t silence_ms,
               const std_msgs::msg::Header& stamp = std_msgs::msg::Header()) {
    peer_.changeTopicState(node, topic, [&](SensorState& state) {
      state.last_receive_ms = nowMs() - silence_ms;
      state.initializing = false;
      state.last_header = stamp;
    });
  }

  test_support::TempDir files_;
  Diagnosis diagnosis_;
  DiagnosisTestPeer peer_{diagnosis_};
  EventListener listener_{"sensor_proxy_diag_topic"};
};

TEST_F(Monitoring, TimeoutAndRecoveryEachPublishOneEventWithTheLastHeader) {
  silence("front_node", kUltrasonic3, 0);
  diagnosis_.TimeoutCheck();
  silence("front_node", kUltrasonic3, 60000, header(42, "ultrasonic_3"));

  test_support::LogCapture capture;
  diagnosis_.TimeoutCheck();
  diagnosis_.TimeoutCheck();
  const auto lines = capture.lines();
  auto events = listener_.take();
  ASSERT_EQ(events.size(), 1u) << "one event per transition";
  EXPECT_EQ(events[0].event_id, 8007) << "ultrasonic 3 takes 8007";
  EXPECT_EQ(events[0].event_status, 1);
  EXPECT_EQ(events[0].event_msg, "STREAM TIMEOUT");
  EXPECT_EQ(events[0].header.stamp.sec, 42);
  EXPECT_EQ(events[0].header.stamp.nanosec, 7u);
  EXPECT_EQ(events[0].header.frame_id, "ultrasonic_3");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("[ERROR] [TIMEOUT] 8007 STREAM TIMEOUT! Cutoff time: 6", 0), 0u)
      << lines[0];

  silence("front_node", kUltrasonic3, 0, header(43, "ultrasonic_3"));
  for (int cycle = 0; cycle < 3; ++cycle) {
    diagnosis_.TimeoutCheck();
  }
  EXPECT_TRUE(listener_.take().empty()) << "recovering for the three cycles of its threshold";
  test_support::LogCapture recovery_capture;
  diagnosis_.TimeoutCheck();
  events = listener_.take();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].event_id, 8007);
  EXPECT_EQ(events[0].event_status, 0);
  EXPECT_EQ(events[0].event_msg, "STREAM RECOVERY");
  EXPECT_EQ(events[0].header.stamp.sec, 43);
  EXPECT_EQ(recovery_capture.lines(),
            std::vector<std::string>{"[WARN] [RECOVERY] 8007 STREAM RECOVERY!"});
}

TEST_F(Monitoring, InitialTimeoutLogsTheInitLineBeforeTheTimeoutLine) {
  diagnosis_.TimeoutCheck();  // arms every topic of the registered nodes
  ASSERT_TRUE(peer_.topicState("front_node", "scan_1").initializing);
  peer_.changeTopicState("front_node", "scan_1",
                         [](SensorState& state) { state.last_receive_ms = nowMs() - 20000; });

  test_support::LogCapture capture;
  diagnosis_.TimeoutCheck();
  const auto lines = capture.lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].rfind("[ERROR] [INIT] 8001 STREAM TIMEOUT! Cutoff time: 20", 0), 0u)
      << lines[0];
  EXPECT_EQ(lines[1].rfind("[ERROR] [TIMEOUT] 8001 STREAM TIMEOUT! Cutoff time: 20", 0), 0u)
      << lines[1];
  const auto events = listener_.take();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].header.stamp.sec, 0) << "a topic that never reported has a zero stamp";
  EXPECT_EQ(events[0].header.frame_id, "");
}

TEST_F(Monitoring, TopicUnderTwoNodesIsJudgedPerNode) {
  silence("front_node", "scan_1", 60000);
  silence("rear_node", "scan_1", 0);
  diagnosis_.TimeoutCheck();
  ASSERT_EQ(listener_.take().size(), 1u);

  silence("rear_node", "scan_1", 60000);
  diagnosis_.TimeoutCheck();
  const auto events = listener_.take();
  ASSERT_EQ(events.size(), 1u) << "front_node is already timed out; rear_node times out now";
  EXPECT_EQ(events[0].event_id, 8001);
}

TEST_F(Monitoring, CameraImuAndOdometryNeverTimeOut) {
  for (const char* topic : {kCamera, "/imu/data", "/robot_base/wheel/odom", "unknown_topic"}) {
    silence("front_node", topic, 60000);
  }
  diagnosis_.TimeoutCheck();
  EXPECT_TRUE(listener_.take().empty());
}

TEST_F(Monitoring, NodesThatNeverReportedAreNotExamined) {
  diagnosis_.TimeoutCheck();
  diagnosis_.FPSCheck();
  EXPECT_FALSE(peer_.hasTopicState("silent_node", "scan_1"));
  EXPECT_TRUE(peer_.hasTopicState("rear_node", "scan_1"));
}

TEST_F(Monitoring, LowFrameRatePublishesAbnormalThenRecovery) {
  const int64_t now = nowMs();
  peer_.changeTopicState("front_node", kCamera, [&](SensorState& state) {
    state.receive_times_ms = {now - 1000, now - 500, now};  // 2 Hz against a 15 Hz low limit
    state.abnormal_start_ms = now - 10000;
    state.last_header = header(9, "camera_01");
  });
  test_support::LogCapture capture;
  diagnosis_.FPSCheck();
  diagnosis_.FPSCheck();
  const auto lines = capture.lines();
  auto events = listener_.take();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].event_id, 8015);
  EXPECT_EQ(events[0].event_status, 1);
  EXPECT_EQ(events[0].event_msg, "FRAME RATE ABNORMAL");
  EXPECT_EQ(events[0].header.frame_id, "camera_01");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("[ERROR] [ABNORMAL] 8015 FRAME RATE ABNORMAL! Cutoff time: 10", 0), 0u)
      << lines[0];

  peer_.changeTopicState("front_node", kCamera, [&](SensorState& state) {
    const int64_t later = nowMs();
    state.receive_times_ms.clear();
    for (int64_t offset = 1000; offset >= 0; offset -= 50) {
      state.receive_times_ms.push_back(later - offset);  // 20 Hz
    }
    state.recovering = true;
    state.recovery_start_ms = later - 5000;
  });
  test_support::LogCapture recovery_capture;
  diagnosis_.FPSCheck();
  events = listener_.take();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].event_status, 0);
  EXPECT_EQ(events[0].event_msg, "FRAME RATE RECOVERY");
  EXPECT_EQ(recovery_capture.lines(),
            std::vector<std::string>{"[WARN] [RECOVERY] 8015 FRAME RATE RECOVERY!"});
}

class MonitoringThread : public Monitoring {};

TEST_F(MonitoringThread, StartsOnceAndStopsOnce) {
  test_support::LogCapture capture;
  diagnosis_.startTimer();
  diagnosis_.startTimer();
  diagnosis_.stopTimer();
  diagnosis_.stopTimer();
  diagnosis_.startTimer();
  EXPECT_TRUE(peer_.timerRunning());
  diagnosis_.stopTimer();
  EXPECT_EQ(capture.lines(), (std::vector<std::string>{
                                 "[INFO] Timer thread started", "[INFO] Timer thread stopped",
                                 "[INFO] Timer thread started", "[INFO] Timer thread stopped"}));
}

TEST_F(MonitoringThread, RunningThreadPublishesTheTimeoutOfAStoppedStream) {
  silence("front_node", "scan_1", 60000);
  diagnosis_.startTimer();
  const auto events = listener_.waitForEvents(std::chrono::seconds(10));
  diagnosis_.stopTimer();
  ASSERT_FALSE(events.empty()) << "the monitoring thread published nothing within 10 s";
  EXPECT_EQ(events[0].event_id, 8001);
  EXPECT_EQ(events[0].event_msg, "STREAM TIMEOUT");
}

TEST_F(MonitoringThread, NothingIsPublishedAfterStopReturns) {
  diagnosis_.startTimer();
  diagnosis_.stopTimer();
  listener_.take();
  silence("front_node", "scan_1", 60000);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_TRUE(listener_.take().empty());
  EXPECT_EQ(peer_.topicState("front_node", "scan_1").stream_state,
            kelvane_rovimar_diagnosis::StreamState::NORMAL)
      << "no check ran after stop";
}

TEST_F(MonitoringThread, DestructionStopsTheRunningThread) {
  test_support::LogCapture capture;
  {
    Diagnosis diagnosis;
    diagnosis.startTimer();
  }
  EXPECT_EQ(capture.lines(), (std::vector<std::string>{"[INFO] Timer thread started",
                                                       "[INFO] Timer thread stopped"}));
}

}  // namespace
