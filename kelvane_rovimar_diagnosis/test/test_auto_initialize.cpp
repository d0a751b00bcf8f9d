#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "kelvane_rovimar_diagnosis/sensor_diagnosis.hpp"
#include "support/diagnosis_test_peer.hpp"
#include "support/log_capture.hpp"
#include "support/temp_dir.hpp"

namespace {

const std::string kInstalledConfig =
    std::string(INSTALL_PREFIX) + "/share/kelvane_rovimar_diagnosis/config/sensor_thresholds.yaml";
const char kFallback[] =
    "/opt/ros/humble/share/kelvane_rovimar_diagnosis/config/sensor_thresholds.yaml";

std_msgs::msg::Header header() { return std_msgs::msg::Header(); }

long countOf(const std::vector<std::string>& lines, const std::string& line) {
  return std::count(lines.begin(), lines.end(), line);
}

// Points the package index at one prefix for the length of a test.
class AutoInitialize : public ::testing::Test {
 protected:
  void usePrefix(const std::string& prefix) { setenv("AMENT_PREFIX_PATH", prefix.c_str(), 1); }

  /// A prefix whose index lists the package and whose share holds `config`.
  std::string prefixWithConfig(const std::string& config) {
    const std::filesystem::path prefix = files_.path("prefix");
    std::filesystem::create_directories(prefix / "share/ament_index/resource_index/packages");
    files_.write("prefix/share/ament_index/resource_index/packages/kelvane_rovimar_diagnosis", "");
    std::filesystem::create_directories(prefix / "share/kelvane_rovimar_diagnosis/config");
    files_.write("prefix/share/kelvane_rovimar_diagnosis/config/sensor_thresholds.yaml", config);
    return prefix.string();
  }

  void TearDown() override { unsetenv("AMENT_PREFIX_PATH"); }

  test_support::TempDir files_;
};

TEST_F(AutoInitialize, FirstReportLoadsTheInstalledFileAndStartsMonitoring) {
  usePrefix(INSTALL_PREFIX);
  Diagnosis diagnosis;
  DiagnosisTestPeer peer(diagnosis);
  test_support::LogCapture capture;
  EXPECT_TRUE(diagnosis.SensorReportWithHeader("lidar_proxy_node", "scan_1", header()));
  const auto lines = capture.lines();
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "[INFO] Successfully loaded sensor config from: " + kInstalledConfig,
                       "[INFO] Timer thread started",
                       "[INFO] Diagnosis system auto-initialized with config: " + kInstalledConfig,
                       "[INFO] Node auto-registered: lidar_proxy_node"}));
  EXPECT_TRUE(peer.timerRunning());
  EXPECT_EQ(peer.configFilePath(), kInstalledConfig);
  EXPECT_EQ(peer.topicState("lidar_proxy_node", "scan_1").receive_times_ms.size(), 1u);
}

TEST_F(AutoInitialize, MissingPackageFallsBackToTheFixedPath) {
  usePrefix(files_.path("empty_prefix"));
  Diagnosis diagnosis;
  DiagnosisTestPeer peer(diagnosis);
  test_support::LogCapture capture;
  EXPECT_FALSE(diagnosis.SensorReportWithoutHeader("lidar_proxy_node", "scan_1"));
  const auto lines = capture.lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0].rfind("[ERROR] Failed to get package share directory: package "
                           "'kelvane_rovimar_diagnosis' not found",
                           0),
            0u)
      << lines[0];
  EXPECT_EQ(peer.configFilePath(), kFallback);
  EXPECT_EQ(countOf(lines, std::string("[ERROR] Failed to auto-initialize diagnosis system "
                                       "with config: ") +
                               kFallback),
            1);
}

TEST_F(AutoInitialize, BrokenFileIsTriedOnceAndEveryLaterReportFails) {
  usePrefix(prefixWithConfig("sensors: {}\n"));
  Diagnosis diagnosis;
  DiagnosisTestPeer peer(diagnosis);
  test_support::LogCapture first_capture;
  EXPECT_FALSE(diagnosis.SensorReportWithHeader("lidar_proxy_node", "scan_1", header()));
  const auto first = first_capture.lines();
  ASSERT_GE(first.size(), 2u);
  EXPECT_EQ(first[first.size() - 2].rfind(
                "[ERROR] Failed to auto-initialize diagnosis system with config: ", 0),
            0u);
  EXPECT_EQ(first.back(), "[ERROR] Failed to auto-initialize diagnosis system");
  EXPECT_EQ(countOf(first, "[ERROR] No sensors configured"), 1);
  EXPECT_TRUE(peer.timerRunning()) << "the monitoring thread runs all the same";

  test_support::LogCapture later_capture;
  EXPECT_FALSE(diagnosis.SensorReportUsingStatus("lidar_proxy_node", "scan_1", 0));
  EXPECT_FALSE(diagnosis.SensorReportWithoutHeader("lidar_proxy_node", "scan_1"));
  EXPECT_EQ(later_capture.lines(),
            (std::vector<std::string>{"[ERROR] Failed to auto-initialize diagnosis system",
                                      "[ERROR] Failed to auto-initialize diagnosis system"}))
      << "the file is not read again";
}

TEST_F(AutoInitialize, ExplicitInitializeAfterAFailedAutomaticOneIsHonoured) {
  usePrefix(prefixWithConfig("sensors: {}\n"));
  Diagnosis diagnosis;
  EXPECT_FALSE(diagnosis.SensorReportWithHeader("lidar_proxy_node", "scan_1", header()));
  ASSERT_TRUE(diagnosis.initialize(kInstalledConfig));
  EXPECT_TRUE(diagnosis.SensorReportWithHeader("lidar_proxy_node", "scan_1", header()));
}

TEST_F(AutoInitialize, ConcurrentFirstReportsRunTheStepOnce) {
  usePrefix(INSTALL_PREFIX);
  Diagnosis diagnosis;
  test_support::LogCapture capture;
  std::vector<std::thread> reporters;
  std::vector<int> accepted(4, 0);
  for (size_t index = 0; index < accepted.size(); ++index) {
    reporters.emplace_back([&, index] {
      accepted[index] = diagnosis.SensorReportWithHeader("lidar_proxy_node", "scan_1", header());
    });
  }
  for (auto& reporter : reporters) {
    reporter.join();
  }
  const auto lines = capture.lines();
  EXPECT_EQ(std::count(accepted.begin(), accepted.end(), 1), 4);
  EXPECT_EQ(
      countOf(lines, "[INFO] Diagnosis system auto-initialized with config: " + kInstalledConfig),
      1);
  EXPECT_EQ(countOf(lines, "[INFO] Timer thread started"), 1);
  EXPECT_EQ(countOf(lines, "[INFO] Node auto-registered: lidar_proxy_node"), 1);
}

TEST_F(AutoInitialize, ExplicitInitializeMeansNoAutomaticStep) {
  usePrefix(INSTALL_PREFIX);
  Diagnosis diagnosis;
  DiagnosisTestPeer peer(diagnosis);
  ASSERT_TRUE(diagnosis.initialize(kInstalledConfig));
  test_support::LogCapture capture;
  EXPECT_TRUE(diagnosis.SensorReportWithHeader("lidar_proxy_node", "scan_1", header()));
  EXPECT_EQ(capture.lines(),
            std::vector<std::string>{"[INFO] Node auto-registered: lidar_proxy_node"});
  EXPECT_FALSE(peer.timerRunning()) << "only automatic initialisation starts the thread";
}

}  // namespace
