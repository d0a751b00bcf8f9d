#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "kelvane_rovimar_diagnosis/sensor_diagnosis.hpp"
#include "support/diagnosis_test_peer.hpp"
#include "support/log_capture.hpp"
#include "support/temp_dir.hpp"
#include "support/threshold_yaml.hpp"

namespace {

const std::string kDocument =
    "nodes:\n"
    "  lidar_node:\n"
    "    topics: [scan_1, scan_2]\n"
    "sensors:\n" +
    test_support::sensorEntry("scan_1");

class Registration : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(diagnosis_.loadConfigFromFile(path_)); }

  test_support::TempDir files_;
  std::string path_ = files_.write("config.yaml", kDocument);
  Diagnosis diagnosis_;
  DiagnosisTestPeer peer_{diagnosis_};
};

TEST_F(Registration, StoresTheFourThresholdsAndZeroesTheRest) {
  test_support::LogCapture capture;
  ASSERT_TRUE(diagnosis_.Register("/front_camera", 10.0F, 0.5F, 500, 3));
  EXPECT_EQ(capture.lines(),
            std::vector<std::string>{"[ERROR] Registered sensor threshold: /front_camera"});
  SensorThreshold expected;
  expected.normal_hz = 10.0F;
  expected.low_ratio = 0.5F;
  expected.cutoff_timeout_ms = 500;
  expected.cutoff_recovery_threshold = 3;
  EXPECT_EQ(peer_.thresholds().at("/front_camera"), expected);
}

TEST_F(Registration, ReplacesAllSevenFieldsOfALoadedTopic) {
  ASSERT_TRUE(diagnosis_.Register("scan_1", 20.0F, 0.8F, 100, 1));
  const SensorThreshold threshold = peer_.thresholds().at("scan_1");
  EXPECT_EQ(threshold.cutoff_timeout_ms, 100);
  EXPECT_EQ(threshold.abnormal_duration_ms, 0);
  EXPECT_EQ(threshold.fps_recovery_threshold, 0.0F);
  EXPECT_EQ(threshold.fps_recovery_duration_ms, 0);
}

struct RegisterCase {
  std::string name;
  float normal_hz;
  float low_ratio;
  long cutoff_timeout_ms;
  long cutoff_recovery_threshold;
  bool accepted;
};

void PrintTo(const RegisterCase& row, std::ostream* out) { *out << row.name; }

class RegisterArguments : public Registration,
                          public ::testing::WithParamInterface<RegisterCase> {};

TEST_P(RegisterArguments, AcceptsOnlyValidThresholds) {
  const RegisterCase& row = GetParam();
  test_support::LogCapture capture;
  EXPECT_EQ(diagnosis_.Register("topic", row.normal_hz, row.low_ratio, row.cutoff_timeout_ms,
                                row.cutoff_recovery_threshold),
            row.accepted);
  const std::string expected = row.accepted ? "[ERROR] Registered sensor threshold: topic"
                                            : "[ERROR] Invalid sensor threshold: topic";
  EXPECT_EQ(capture.lines(), std::vector<std::string>{expected});
  EXPECT_EQ(peer_.thresholds().count("topic"), row.accepted ? 1u : 0u);
}

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInfinity = std::numeric_limits<float>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Boundaries, RegisterArguments,
    ::testing::Values(RegisterCase{"LowRatioOfOne", 10.0F, 1.0F, 500, 3, true},
                      RegisterCase{"SmallestCounts", 0.1F, 0.1F, 1, 1, true},
                      RegisterCase{"LowRatioZero", 10.0F, 0.0F, 500, 3, false},
                      RegisterCase{"LowRatioAboveOne", 10.0F, 1.5F, 500, 3, false},
                      RegisterCase{"NormalHzZero", 0.0F, 0.5F, 500, 3, false},
                      RegisterCase{"NormalHzNegative", -10.0F, 0.5F, 500, 3, false},
                      RegisterCase{"CutoffTimeoutZero", 10.0F, 0.5F, 0, 3, false},
                      RegisterCase{"RecoveryThresholdZero", 10.0F, 0.5F, 500, 0, false},
                      RegisterCase{"NormalHzNotANumber", kNaN, 0.5F, 500, 3, false},
                      RegisterCase{"NormalHzInfinite", kInfinity, 0.5F, 500, 3, false},
                      RegisterCase{"LowRatioNotANumber", 10.0F, kNaN, 500, 3, false}),
    [](const auto& info) { return info.param.name; });

TEST_F(Registration, ConfiguredNodeRegistersOnceWithOneLine) {
  test_support::LogCapture capture;
  EXPECT_TRUE(diagnosis_.AutoRegisterNode("lidar_node"));
  EXPECT_TRUE(diagnosis_.AutoRegisterNode("lidar_node"));
  EXPECT_EQ(capture.lines(), std::vector<std::string>{"[INFO] Node auto-registered: lidar_node"});
  EXPECT_TRUE(peer_.nodeStates().at("lidar_node").registered);
}

TEST_F(Registration, UnknownNodeIsRefusedAndNamesAreCaseSensitive) {
  test_support::LogCapture capture;
  EXPECT_FALSE(diagnosis_.AutoRegisterNode("Lidar_Node"));
  EXPECT_EQ(capture.lines(),
            std::vector<std::string>{"[ERROR] Node not found in config: Lidar_Node"});
  EXPECT_EQ(peer_.nodeStates().count("Lidar_Node"), 0u);
}

TEST_F(Registration, NodeRegistersAgainAfterALoad) {
  ASSERT_TRUE(diagnosis_.AutoRegisterNode("lidar_node"));
  ASSERT_TRUE(diagnosis_.loadConfigFromFile(path_));
  test_support::LogCapture capture;
  EXPECT_TRUE(diagnosis_.AutoRegisterNode("lidar_node"));
  EXPECT_EQ(capture.lines(), std::vector<std::string>{"[INFO] Node auto-registered: lidar_node"});
}

TEST_F(Registration, TopicMembershipFollowsTheConfigurationSilently) {
  test_support::LogCapture capture;
  EXPECT_TRUE(diagnosis_.isTopicInNode("scan_2", "lidar_node"));
  EXPECT_FALSE(diagnosis_.isTopicInNode("/rslidar_points", "lidar_node"));
  EXPECT_FALSE(diagnosis_.isTopicInNode("SCAN_1", "lidar_node"));
  EXPECT_FALSE(diagnosis_.isTopicInNode("scan_1", "ghost_node"));
  EXPECT_TRUE(capture.lines().empty());
}

// Meant for the ThreadSanitizer build: lookups race with loads that rebuild the tables.
TEST_F(Registration, LookupsStayCorrectWhileTheConfigurationReloads) {
  std::atomic<bool> loading{true};
  std::thread loader([&] {
    for (int round = 0; round < 20; ++round) {
      diagnosis_.loadConfigFromFile(path_);
    }
    loading = false;
  });
  int lookups = 0;
  bool always_found = true;
  while (loading || lookups == 0) {
    always_found = always_found && diagnosis_.isTopicInNode("scan_1", "lidar_node");
    ++lookups;
  }
  loader.join();
  EXPECT_TRUE(always_found) << "a load must never expose a half-built node table";
}

}  // namespace
