#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "kelvane_rovimar_diagnosis/sensor_diagnosis.hpp"
#include "rclcpp/rclcpp.hpp"
#include "support/diagnosis_test_peer.hpp"

namespace {

TEST(DiagnosisObject, NewObjectHoldsNothingAndStartsNothing) {
  ASSERT_FALSE(rclcpp::ok()) << "construction must not need ROS";
  Diagnosis diagnosis;
  DiagnosisTestPeer peer(diagnosis);
  EXPECT_TRUE(peer.hasNoRosObjects());
  EXPECT_TRUE(peer.tablesEmpty());
  EXPECT_TRUE(peer.flagsCleared());
  EXPECT_TRUE(peer.threadsIdle());
}

TEST(DiagnosisObject, ConstructionAndDestructionLogNothing) {
  testing::internal::CaptureStdout();
  { Diagnosis diagnosis; }
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(DiagnosisObject, RecordsStartDefaultValued) {
  const kelvane_rovimar_diagnosis::SensorState state;
  EXPECT_EQ(state.last_header.stamp.sec, 0);
  EXPECT_EQ(state.last_header.stamp.nanosec, 0u);
  EXPECT_EQ(state.last_header.frame_id, "");
  EXPECT_EQ(state.last_receive_ms, 0);
  EXPECT_EQ(state.stream_state, kelvane_rovimar_diagnosis::StreamState::NORMAL);
  EXPECT_EQ(state.frame_rate_state, kelvane_rovimar_diagnosis::FrameRateState::NORMAL);
  EXPECT_TRUE(state.receive_times_ms.empty());
  EXPECT_FALSE(state.initializing);
  EXPECT_FALSE(state.recovering);
  EXPECT_EQ(state.reported_status, 0);

  const kelvane_rovimar_diagnosis::NodeRuntime runtime;
  EXPECT_FALSE(runtime.registered);
  EXPECT_TRUE(runtime.topic_states.empty());
}

TEST(DiagnosisObject, EventTypeNamesWorkQualifiedAndBare) {
  static_assert(std::is_same_v<std::underlying_type_t<AbnormalEventType>, int32_t>);
  EXPECT_EQ(AbnormalEventType::INFER_STREAM_TIMEOUT_STATUS, INFER_STREAM_TIMEOUT_STATUS);
  EXPECT_EQ(static_cast<int>(LOCALIZATION_LOST_STATUS), 5);
}

}  // namespace
