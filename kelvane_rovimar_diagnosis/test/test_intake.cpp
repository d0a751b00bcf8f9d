#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "kelvane_rovimar_diagnosis/sensor_diagnosis.hpp"
#include "support/diagnosis_test_peer.hpp"
#include "support/event_listener.hpp"
#include "support/log_capture.hpp"
#include "support/temp_dir.hpp"
#include "support/threshold_yaml.hpp"

namespace {

using test_support::sensorEntry;

const std::string kDocument =
    "nodes:\n"
    "  lidar_node:\n"
    "    topics: [scan_1, scan_2, unthresholded]\n"
    "  rear_node:\n"
    "    topics: [scan_1]\n"
    "sensors:\n" +
    sensorEntry("scan_1", {{"cutoff_timeout_ms", "1000"}, {"cutoff_recovery_threshold", "1"}}) +
    sensorEntry("scan_2");

std_msgs::msg::Header stamped(int32_t sec) {
  std_msgs::msg::Header header;
  header.stamp.sec = sec;
  header.frame_id = "laser";
  return header;
}

class Intake : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(diagnosis_.initialize(path_)); }

  test_support::TempDir files_;
  std::string path_ = files_.write("config.yaml", kDocument);
  Diagnosis diagnosis_;
  DiagnosisTestPeer peer_{diagnosis_};
};

TEST_F(Intake, FirstReportRegistersTheNodeAndRecordsTheMessage) {
  test_support::LogCapture capture;
  ASSERT_TRUE(diagnosis_.SensorReportWithHeader("lidar_node", "scan_1", stamped(42)));
  EXPECT_EQ(capture.lines(), std::vector<std::string>{"[INFO] Node auto-registered: lidar_node"});
  const auto state = peer_.topicState("lidar_node", "scan_1");
  EXPECT_EQ(state.last_header.stamp.sec, 42);
  EXPECT_EQ(state.last_header.frame_id, "laser");
  EXPECT_GT(state.last_receive_ms, 0);
  ASSERT_EQ(state.receive_times_ms.size(), 1u);
  EXPECT_EQ(state.receive_times_ms.back(), state.last_receive_ms);
}

TEST_F(Intake, UnknownNodeIsRefusedWithTwoErrorLines) {
  test_support::LogCapture capture;
  EXPECT_FALSE(diagnosis_.SensorReportWithHeader("ghost_node", "scan_1", stamped(1)));
  EXPECT_EQ(capture.lines(),
            (std::vector<std::string>{"[ERROR] Node not found in config: ghost_node",
                                      "[ERROR] Failed to auto-register node: ghost_node"}));
  EXPECT_FALSE(peer_.hasTopicState("ghost_node", "scan_1"));
}

TEST_F(Intake, TopicTheNodeDoesNotListIsRefused) {
  ASSERT_TRUE(diagnosis_.SensorReportWithoutHeader("rear_node", "scan_1"));
  test_support::LogCapture capture;
  EXPECT_FALSE(diagnosis_.SensorReportWithoutHeader("rear_node", "scan_2"));
  EXPECT_FALSE(diagnosis_.SensorReportUsingStatus("rear_node", "scan_2", 1));
  EXPECT_EQ(capture.lines(),
            (std::vector<std::string>{"[WARN] Topic scan_2 not belong to node rear_node",
                                      "[WARN] Topic scan_2 not belong to node rear_node"}))
      << "every refusal is logged";
  EXPECT_FALSE(peer_.hasTopicState("rear_node", "scan_2"));
}

TEST_F(Intake, TopicWithoutThresholdsIsRefusedUntilRegistered) {
  ASSERT_TRUE(diagnosis_.AutoRegisterNode("lidar_node"));
  test_support::LogCapture capture;
  EXPECT_FALSE(diagnosis_.SensorReportWithHeader("lidar_node", "unthresholded", stamped(1)));
  EXPECT_EQ(capture.lines(),
            std::vector<std::string>{"[WARN] Sensor topic not registered: unthresholded"});

  ASSERT_TRUE(diagnosis_.Register("unthresholded", 10.0F, 0.5F, 500, 3));
  EXPECT_TRUE(diagnosis_.SensorReportWithHeader("lidar_node", "unthresholded", stamped(1)));
}

TEST_F(Intake, QueueKeepsTheNewestThousandArrivals) {
  for (int report = 0; report < 1001; ++report) {
    ASSERT_TRUE(diagnosis_.SensorReportWithoutHeader("lidar_node", "scan_2"));
  }
  const auto state = peer_.topicState("lidar_node", "scan_2");
  EXPECT_EQ(state.receive_times_ms.size(), 1000u);
}

TEST_F(Intake, OldestArrivalIsTheOneDropped) {
  peer_.changeTopicState("lidar_node", "scan_2", [](kelvane_rovimar_diagnosis::SensorState& s) {
    for (int64_t index = 0; index < 1000; ++index) {
      s.receive_times_ms.push_back(index + 1);
    }
  });
  ASSERT_TRUE(diagnosis_.SensorReportWithoutHeader("lidar_node", "scan_2"));
  const auto state = peer_.topicState("lidar_node", "scan_2");
  ASSERT_EQ(state.receive_times_ms.size(), 1000u);
  EXPECT_EQ(state.receive_times_ms.front(), 2);
  EXPECT_EQ(state.receive_times_ms.back(), state.last_receive_ms);
}

TEST_F(Intake, FourthMessageAfterArmingEndsTheInitialPhase) {
  ASSERT_TRUE(diagnosis_.AutoRegisterNode("lidar_node"));
  diagnosis_.TimeoutCheck();  // arms scan_1 and scan_2
  for (int report = 1; report <= 3; ++report) {
    ASSERT_TRUE(diagnosis_.SensorReportWithHeader("lidar_node", "scan_1", stamped(report)));
    ASSERT_TRUE(diagnosis_.SensorReportWithoutHeader("lidar_node", "scan_2"));
  }
  EXPECT_TRUE(peer_.topicState("lidar_node", "scan_1").initializing);
  EXPECT_TRUE(peer_.topicState("lidar_node", "scan_2").initializing);

  ASSERT_TRUE(diagnosis_.SensorReportWithHeader("lidar_node", "scan_1", stamped(4)));
  ASSERT_TRUE(diagnosis_.SensorReportWithoutHeader("lidar_node", "scan_2"));
  const auto headered = peer_.topicState("lidar_node", "scan_1");
  const auto headerless = peer_.topicState("lidar_node", "scan_2");
  EXPECT_FALSE(headered.initializing);
  EXPECT_EQ(headered.init_receive_count, 0);
  EXPECT_FALSE(headerless.initializing)
      << "a headerless stream must leave its initial phase too, or its cutoff never applies";
}

TEST_F(Intake, HeaderlessReportStampsTheHeaderWithTheReportTime) {
  const auto before = std::chrono::system_clock::now();
  ASSERT_TRUE(diagnosis_.SensorReportWithoutHeader("lidar_node", "scan_2"));
  const auto state = peer_.topicState("lidar_node", "scan_2");
  const int64_t before_s =
      std::chrono::duration_cast<std::chrono::seconds>(before.time_since_epoch()).count();
  EXPECT_GE(state.last_header.stamp.sec, before_s);
  EXPECT_LE(state.last_header.stamp.sec, before_s + 60);
  EXPECT_EQ(state.last_header.frame_id, "");
}

TEST_F(Intake, StatusReportChangesNoTimeAndNoQueue) {
  ASSERT_TRUE(diagnosis_.SensorReportWithHeader("lidar_node", "scan_1", stamped(5)));
  const auto before = peer_.topicState("lidar_node", "scan_1");
  ASSERT_TRUE(diagnosis_.SensorReportUsingStatus("lidar_node", "scan_1", 1));
  const auto after = peer_.topicState("lidar_node", "scan_1");
  EXPECT_EQ(after.reported_status, 1);
  EXPECT_EQ(after.last_receive_ms, before.last_receive_ms);
  EXPECT_EQ(after.receive_times_ms, before.receive_times_ms);
  EXPECT_EQ(after.last_header.stamp.sec, 5);
}

TEST_F(Intake, SameTopicUnderTwoNodesKeepsTwoRecords) {
  ASSERT_TRUE(diagnosis_.SensorReportWithHeader("lidar_node", "scan_1", stamped(1)));
  ASSERT_TRUE(diagnosis_.SensorReportWithHeader("rear_node", "scan_1", stamped(2)));
  ASSERT_TRUE(diagnosis_.SensorReportWithHeader("rear_node", "scan_1", stamped(3)));
  EXPECT_EQ(peer_.topicState("lidar_node", "scan_1").receive_times_ms.size(), 1u);
  EXPECT_EQ(peer_.topicState("rear_node", "scan_1").receive_times_ms.size(), 2u);
  EXPECT_EQ(peer_.topicState("lidar_node", "scan_1").last_header.stamp.sec, 1);
}

// Real time: the monitoring thread judges a stream that stops and resumes.
TEST_F(Intake, StreamThatStopsTimesOutAndRecoversOnTheSubscription) {
  test_support::EventListener listener("sensor_proxy_diag_topic");
  diagnosis_.startTimer();
  auto report_for = [&](std::chrono::milliseconds duration) {
    const auto end = std::chrono::steady_clock::now() + duration;
    while (std::chrono::steady_clock::now() < end) {
      diagnosis_.SensorReportWithHeader("lidar_node", "scan_1", stamped(7));
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  };
  report_for(std::chrono::milliseconds(600));  // a live stream: no event yet
  EXPECT_TRUE(listener.take().empty());

  const auto timeout = listener.waitForEvents(std::chrono::seconds(10));
  ASSERT_EQ(timeout.size(), 1u) << "one timeout for a stream that stopped";
  EXPECT_EQ(timeout[0].event_id, 8001);
  EXPECT_EQ(timeout[0].event_status, 1);
  EXPECT_EQ(timeout[0].event_msg, "STREAM TIMEOUT");
  EXPECT_EQ(timeout[0].header.stamp.sec, 7);

  std::vector<test_support::EventListener::Event> recovery;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (recovery.empty() && std::chrono::steady_clock::now() < deadline) {
    report_for(std::chrono::milliseconds(100));
    recovery = listener.take();
  }
  diagnosis_.stopTimer();
  ASSERT_EQ(recovery.size(), 1u);
  EXPECT_EQ(recovery[0].event_status, 0);
  EXPECT_EQ(recovery[0].event_msg, "STREAM RECOVERY");
}

}  // namespace
