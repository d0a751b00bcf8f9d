#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>

#include "kelvane_rovimar_diagnosis/sensor_diagnosis.hpp"
#include "rclcpp/rclcpp.hpp"
#include "support/diagnosis_test_peer.hpp"
#include "support/log_capture.hpp"

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

TEST(DiagnosisObject, EventTypeNamesWorkQualifiedAndBare) {
  static_assert(std::is_same_v<std::underlying_type_t<AbnormalEventType>, int32_t>);
  EXPECT_EQ(AbnormalEventType::INFER_STREAM_TIMEOUT_STATUS, INFER_STREAM_TIMEOUT_STATUS);
  EXPECT_EQ(static_cast<int>(LOCALIZATION_LOST_STATUS), 5);
}

TEST(RetryableOnce, ThrowingStepRunsAgainAndASuccessfulOneNever) {
  kelvane_rovimar_diagnosis::RetryableOnce once;
  int runs = 0;
  EXPECT_THROW(once.run([&] {
    ++runs;
    throw std::runtime_error("first attempt fails");
  }),
               std::runtime_error);
  once.run([&] { ++runs; });
  once.run([&] { ++runs; });
  EXPECT_EQ(runs, 2);
}

// Runs last: it initialises ROS for this process.
TEST(DiagnosisObject, ReportBeforeRosInitThrowsAndTheNextReportInitialisesAgain) {
  setenv("AMENT_PREFIX_PATH", INSTALL_PREFIX, 1);
  Diagnosis diagnosis;
  EXPECT_THROW(diagnosis.SensorReportWithoutHeader("lidar_proxy_node", "scan_1"),
               rclcpp::exceptions::RCLError)
      << "node creation fails without a ROS context, and the caller hears of it";

  rclcpp::init(0, nullptr);
  test_support::LogCapture capture;
  EXPECT_TRUE(diagnosis.SensorReportWithoutHeader("lidar_proxy_node", "scan_1"));
  const auto lines = capture.lines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "[INFO] Timer thread started"), 1)
      << "the failed first step must run again";
  rclcpp::shutdown();
}

}  // namespace
