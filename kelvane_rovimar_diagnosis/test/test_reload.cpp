#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "kelvane_rovimar_diagnosis/sensor_diagnosis.hpp"
#include "support/diagnosis_test_peer.hpp"
#include "support/log_capture.hpp"
#include "support/temp_dir.hpp"
#include "support/threshold_yaml.hpp"

namespace {

using test_support::sensorEntry;

const std::string kFirst = "nodes:\n  lidar_node:\n    topics: [scan_1, scan_2]\nsensors:\n" +
                           sensorEntry("scan_1") + sensorEntry("scan_2");
// Adds /rslidar_points, changes scan_1's cutoff, drops scan_2.
const std::string kSecond =
    "nodes:\n  lidar_node:\n    topics: [scan_1, /rslidar_points]\nsensors:\n" +
    sensorEntry("scan_1", {{"cutoff_timeout_ms", "900"}}) + sensorEntry("/rslidar_points");
const std::string kInvalid = "sensors:\n" + sensorEntry("scan_1", {{"low_ratio", "3"}});

long countOf(const std::vector<std::string>& lines, const std::string& line) {
  return std::count(lines.begin(), lines.end(), line);
}

/// Sets the file's modification time to `seconds` since the epoch.
void setModifiedTime(const std::string& path, time_t seconds) {
  const timespec times[2] = {{seconds, 0}, {seconds, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

/// Polls `condition` for up to `limit`.
template <typename Condition>
bool eventually(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

class Reload : public ::testing::Test {
 protected:
  void SetUp() override {
    setModifiedTime(path_, 1'700'000'000);
    ASSERT_TRUE(diagnosis_.initialize(path_));
  }

  /// Replaces the file's content; its time is set `seconds_later` after the first load's.
  void rewrite(const std::string& content, time_t seconds_later) {
    files_.write("config.yaml", content);
    setModifiedTime(path_, 1'700'000'000 + seconds_later);
  }

  test_support::TempDir files_;
  std::string path_ = files_.write("config.yaml", kFirst);
  Diagnosis diagnosis_;
  DiagnosisTestPeer peer_{diagnosis_};
};

TEST(ReloadWithoutFile, FailsWithoutTouchingAnything) {
  Diagnosis diagnosis;
  DiagnosisTestPeer peer(diagnosis);
  ASSERT_TRUE(diagnosis.Register("scan_1", 10.0F, 0.5F, 500, 3));
  test_support::LogCapture capture;
  EXPECT_FALSE(diagnosis.reloadConfig());
  EXPECT_EQ(capture.lines(), std::vector<std::string>{"[ERROR] No config file path set"});
  EXPECT_EQ(peer.thresholds().size(), 1u);
}

TEST(ReloadWithoutFile, BrokenFirstFileLoadsOnceRepaired) {
  test_support::TempDir files;
  const std::string path = files.write("config.yaml", "sensors: {}\n");
  Diagnosis diagnosis;
  DiagnosisTestPeer peer(diagnosis);
  EXPECT_FALSE(diagnosis.initializeFromConfig(path));
  files.write("config.yaml", kFirst);
  EXPECT_TRUE(diagnosis.reloadConfig());
  EXPECT_EQ(peer.thresholds().size(), 2u);
}

TEST_F(Reload, AddsChangesAndDropsSensorsAsTheFileSays) {
  rewrite(kSecond, 10);
  test_support::LogCapture capture;
  EXPECT_TRUE(diagnosis_.reloadConfig());
  EXPECT_EQ(capture.lines(),
            (std::vector<std::string>{"[INFO] Reloading config from: " + path_,
                                      "[INFO] Successfully loaded sensor config from: " + path_,
                                      "[INFO] Config reloaded successfully"}));
  const auto thresholds = peer_.thresholds();
  EXPECT_EQ(thresholds.size(), 2u);
  EXPECT_EQ(thresholds.at("scan_1").cutoff_timeout_ms, 900);
  EXPECT_EQ(thresholds.count("/rslidar_points"), 1u);
  EXPECT_EQ(thresholds.count("scan_2"), 0u);
  EXPECT_EQ(peer_.lastConfigMtime(), 1'700'000'010LL * 1'000'000'000LL);
}

TEST_F(Reload, FailingFileKeepsEveryThresholdAndTheFileTime) {
  ASSERT_TRUE(diagnosis_.Register("runtime_topic", 5.0F, 0.5F, 100, 2));
  const auto before = peer_.thresholds();
  rewrite(kInvalid, 10);
  test_support::LogCapture capture;
  EXPECT_FALSE(diagnosis_.reloadConfig());
  const auto lines = capture.lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "[INFO] Config reload failed, rolling back to previous configuration");
  EXPECT_EQ(countOf(lines, "[ERROR] Config validation failed for file: " + path_), 1);
  EXPECT_EQ(peer_.thresholds(), before) << "entry for entry, runtime registrations included";
  EXPECT_EQ(peer_.lastConfigMtime(), 1'700'000'000LL * 1'000'000'000LL);
}

TEST_F(Reload, DeletedFileFailsAndKeepsTheThresholds) {
  const auto before = peer_.thresholds();
  std::filesystem::remove(path_);
  test_support::LogCapture capture;
  EXPECT_FALSE(diagnosis_.reloadConfig());
  const auto lines = capture.lines();
  EXPECT_EQ(countOf(lines, "[ERROR] YAML parsing error in config file '" + path_ +
                               "': bad file: " + path_),
            1);
  EXPECT_EQ(lines.back(), "[INFO] Config reload failed, rolling back to previous configuration");
  EXPECT_EQ(peer_.thresholds(), before);
}

TEST_F(Reload, RuntimeRegistrationIsGoneAfterASuccessfulReload) {
  ASSERT_TRUE(diagnosis_.Register("runtime_topic", 5.0F, 0.5F, 100, 2));
  ASSERT_TRUE(diagnosis_.reloadConfig());
  EXPECT_EQ(peer_.thresholds().count("runtime_topic"), 0u);
}

TEST_F(Reload, NodesRegisterAgainAndTheirStreamsStartAfresh) {
  ASSERT_TRUE(diagnosis_.SensorReportWithoutHeader("lidar_node", "scan_1"));
  ASSERT_TRUE(diagnosis_.reloadConfig());
  EXPECT_FALSE(peer_.hasTopicState("lidar_node", "scan_1"));
  test_support::LogCapture capture;
  ASSERT_TRUE(diagnosis_.SensorReportWithoutHeader("lidar_node", "scan_1"));
  EXPECT_EQ(capture.lines(), std::vector<std::string>{"[INFO] Node auto-registered: lidar_node"});
  EXPECT_EQ(peer_.topicState("lidar_node", "scan_1").receive_times_ms.size(), 1u);
}

// Meant for the ThreadSanitizer build as much as for the result.
TEST_F(Reload, OverlappingReloadsLeaveTheFilesTables) {
  rewrite(kSecond, 10);
  std::vector<std::thread> reloaders;
  for (int index = 0; index < 4; ++index) {
    reloaders.emplace_back([this] {
      for (int round = 0; round < 10; ++round) {
        diagnosis_.reloadConfig();
      }
    });
  }
  for (auto& reloader : reloaders) {
    reloader.join();
  }
  EXPECT_EQ(peer_.thresholds().size(), 2u);
  EXPECT_EQ(peer_.thresholds().at("scan_1").cutoff_timeout_ms, 900);
}

class Watcher : public Reload {
 protected:
  void TearDown() override { diagnosis_.stopConfigWatcher(); }

  bool loadedFileOf(time_t seconds_later) {
    return peer_.lastConfigMtime() == (1'700'000'000LL + seconds_later) * 1'000'000'000LL;
  }
};

TEST_F(Watcher, StartsOnceStopsOnceAndStartsAgain) {
  test_support::LogCapture capture;
  diagnosis_.stopConfigWatcher();
  diagnosis_.startConfigWatcher();
  diagnosis_.startConfigWatcher();
  diagnosis_.stopConfigWatcher();
  diagnosis_.stopConfigWatcher();
  diagnosis_.startConfigWatcher();
  diagnosis_.stopConfigWatcher();
  EXPECT_EQ(capture.lines(),
            (std::vector<std::string>{
                "[INFO] Config watcher thread started", "[INFO] Config watcher thread stopped",
                "[INFO] Config watcher thread started", "[INFO] Config watcher thread stopped"}));
}

TEST_F(Watcher, NewerFileIsReloadedWithinAboutASecond) {
  test_support::LogCapture capture;
  diagnosis_.startConfigWatcher();
  rewrite(kSecond, 10);
  ASSERT_TRUE(eventually([this] { return loadedFileOf(10); })) << "the watcher did not reload";
  diagnosis_.stopConfigWatcher();
  const auto lines = capture.lines();
  EXPECT_EQ(countOf(lines, "[INFO] Config file modified, auto-reloading..."), 1);
  EXPECT_EQ(countOf(lines, "[INFO] Config reloaded successfully"), 1);
  EXPECT_EQ(peer_.thresholds().count("/rslidar_points"), 1u);
}

TEST_F(Watcher, FailingFileIsRetriedEverySecondUntilFixed) {
  rewrite(kInvalid, 10);
  test_support::LogCapture capture;
  diagnosis_.startConfigWatcher();
  std::this_thread::sleep_for(std::chrono::milliseconds(3000));
  rewrite(kSecond, 20);
  ASSERT_TRUE(eventually([this] { return loadedFileOf(20); }));
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  diagnosis_.stopConfigWatcher();
  const auto lines = capture.lines();
  EXPECT_GE(countOf(lines, "[INFO] Config reload failed, rolling back to previous configuration"),
            2)
      << "about one retry a second";
  EXPECT_EQ(countOf(lines, "[INFO] Config reloaded successfully"), 1)
      << "once loaded, the file is not reloaded again";
}

TEST_F(Watcher, UnchangedOrDeletedFileIsLeftAloneSilently) {
  std::filesystem::remove(path_);
  test_support::LogCapture capture;
  diagnosis_.startConfigWatcher();
  std::this_thread::sleep_for(std::chrono::milliseconds(1300));
  diagnosis_.stopConfigWatcher();
  EXPECT_EQ(capture.lines(), (std::vector<std::string>{"[INFO] Config watcher thread started",
                                                       "[INFO] Config watcher thread stopped"}));
}

TEST(WatcherWithoutFile, NeverReloads) {
  Diagnosis diagnosis;
  test_support::LogCapture capture;
  diagnosis.startConfigWatcher();
  std::this_thread::sleep_for(std::chrono::milliseconds(1300));
  diagnosis.stopConfigWatcher();
  EXPECT_EQ(capture.lines(), (std::vector<std::string>{"[INFO] Config watcher thread started",
                                                       "[INFO] Config watcher thread stopped"}));
}

TEST_F(Watcher, RequestedReloadHappensWithoutATimeComparison) {
  diagnosis_.startConfigWatcher();
  rewrite(kSecond, 0);  // new content, same time: the time rule alone would not see it
  test_support::LogCapture capture;
  diagnosis_.requestConfigReload();
  ASSERT_TRUE(eventually([this] { return peer_.thresholds().count("/rslidar_points") == 1; }));
  diagnosis_.stopConfigWatcher();
  const auto lines = capture.lines();
  EXPECT_EQ(countOf(lines, "[INFO] Config file modified, auto-reloading..."), 0);
  EXPECT_EQ(countOf(lines, "[INFO] Config reloaded successfully"), 1);
}

TEST_F(Watcher, StopWhileWaitingReturnsPromptly) {
  diagnosis_.startConfigWatcher();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const auto before = std::chrono::steady_clock::now();
  diagnosis_.stopConfigWatcher();
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(800))
      << "stop waited for the one-second deadline instead of waking the watcher";
}

TEST_F(Watcher, DestructionStopsARunningWatcher) {
  test_support::LogCapture capture;
  {
    Diagnosis diagnosis;
    diagnosis.startConfigWatcher();
  }
  EXPECT_EQ(capture.lines(), (std::vector<std::string>{"[INFO] Config watcher thread started",
                                                       "[INFO] Config watcher thread stopped"}));
}

}  // namespace
