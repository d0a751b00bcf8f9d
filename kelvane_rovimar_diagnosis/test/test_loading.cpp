#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "kelvane_rovimar_diagnosis/sensor_diagnosis.hpp"
#include "support/diagnosis_test_peer.hpp"
#include "support/log_capture.hpp"
#include "support/temp_dir.hpp"
#include "support/threshold_yaml.hpp"

namespace {

using test_support::sensorEntry;

// Two nodes (one lists a topic twice), two sensors, two calibration ids.
const std::string kFullDocument =
    "nodes:\n"
    "  lidar_node:\n"
    "    topics: [scan_1, scan_2, scan_1]\n"
    "  ultrasonic_node:\n"
    "    topics: [/kelvane_ultrasonic/original_ultrasonic_1]\n"
    "sensors:\n" +
    sensorEntry("scan_1", {{"cutoff_timeout_ms", "0x1F4"}}) +
    sensorEntry("/kelvane_ultrasonic/original_ultrasonic_1",
                {{"normal_hz", "20"}, {"low_ratio", "1"}, {"fps_recovery_threshold", "15.5"}}) +
    "calibration_sensors: [front_lidar, imu]\n";

class ConfigLoading : public ::testing::Test {
 protected:
  /// Loads the full document and checks it took, as the starting point of a test.
  void loadFullDocument() {
    ASSERT_TRUE(diagnosis_.loadConfigFromFile(files_.write("full.yaml", kFullDocument)));
  }

  /// Loads `document` from a file, expecting the load to fail and change nothing.
  std::vector<std::string> expectRejectedWithoutChange(const std::string& document) {
    const auto thresholds = peer_.thresholds();
    const auto nodes = peer_.nodeConfigs();
    const auto calibration = peer_.calibrationSensors();
    const auto mtime = peer_.lastConfigMtime();
    peer_.markTopicReported("lidar_node", "scan_1");
    const auto states = peer_.nodeStates();

    const std::string path = files_.write("rejected.yaml", document);
    test_support::LogCapture capture;
    EXPECT_FALSE(diagnosis_.loadConfigFromFile(path));
    const auto lines = capture.lines();

    EXPECT_EQ(peer_.thresholds(), thresholds);
    EXPECT_EQ(peer_.nodeConfigs().size(), nodes.size());
    for (const auto& [name, config] : nodes) {
      EXPECT_EQ(peer_.nodeConfigs().at(name).topics, config.topics) << name;
    }
    EXPECT_EQ(peer_.calibrationSensors(), calibration);
    EXPECT_EQ(peer_.lastConfigMtime(), mtime);
    EXPECT_TRUE(peer_.nodeStates().at("lidar_node").registered)
        << "a failed load must not unregister nodes";
    EXPECT_EQ(peer_.nodeStates().at("lidar_node").topic_states.size(),
              states.at("lidar_node").topic_states.size());
    return lines;
  }

  test_support::TempDir files_;
  Diagnosis diagnosis_;
  DiagnosisTestPeer peer_{diagnosis_};
};

TEST_F(ConfigLoading, TakesOverAllThreeSectionsAndLogsOnce) {
  const std::string path = files_.write("full.yaml", kFullDocument);
  test_support::LogCapture capture;
  ASSERT_TRUE(diagnosis_.loadConfigFromFile(path));
  EXPECT_EQ(capture.lines(),
            std::vector<std::string>{"[INFO] Successfully loaded sensor config from: " + path});

  const auto nodes = peer_.nodeConfigs();
  ASSERT_EQ(nodes.size(), 2u);
  EXPECT_EQ(nodes.at("lidar_node").name, "lidar_node");
  EXPECT_EQ(nodes.at("lidar_node").topics, (std::vector<std::string>{"scan_1", "scan_2", "scan_1"}))
      << "a repeated topic is kept twice in the list";
  EXPECT_EQ(nodes.at("lidar_node").topic_set.size(), 2u);

  const auto thresholds = peer_.thresholds();
  ASSERT_EQ(thresholds.size(), 2u);
  EXPECT_EQ(thresholds.at("scan_1").cutoff_timeout_ms, 500) << "0x1F4 is hexadecimal";
  const SensorThreshold& ultrasonic = thresholds.at("/kelvane_ultrasonic/original_ultrasonic_1");
  EXPECT_FLOAT_EQ(ultrasonic.normal_hz, 20.0F);
  EXPECT_FLOAT_EQ(ultrasonic.low_ratio, 1.0F);
  EXPECT_EQ(ultrasonic.cutoff_timeout_ms, 500);
  EXPECT_EQ(ultrasonic.cutoff_recovery_threshold, 3);
  EXPECT_EQ(ultrasonic.abnormal_duration_ms, 1000);
  EXPECT_FLOAT_EQ(ultrasonic.fps_recovery_threshold, 15.5F);
  EXPECT_EQ(ultrasonic.fps_recovery_duration_ms, 2000);

  EXPECT_EQ(peer_.calibrationSensors(), (std::vector<std::string>{"front_lidar", "imu"}));
}

TEST_F(ConfigLoading, DefaultConfigurationValidatesAndLoads) {
  ASSERT_TRUE(diagnosis_.loadConfigFromFile(DEFAULT_CONFIG));
  const std::vector<std::string> known_topics = {
      "scan_1",
      "scan_2",
      "/rslidar_points",
      "/kelvane_ultrasonic/original_ultrasonic_1",
      "/kelvane_ultrasonic/original_ultrasonic_2",
      "/kelvane_ultrasonic/original_ultrasonic_3",
      "/kelvane_ultrasonic/original_ultrasonic_4",
      "/camera_01/color/image_raw",
      "/camera_02/depth/image_raw",
      "/camera_03/color/image_raw",
      "/imu/data",
      "/robot_base/wheel/odom",
  };
  const auto thresholds = peer_.thresholds();
  const auto nodes = peer_.nodeConfigs();
  EXPECT_EQ(thresholds.size(), known_topics.size());
  for (const auto& topic : known_topics) {
    EXPECT_EQ(thresholds.count(topic), 1u) << topic << " has no thresholds";
    int listing_nodes = 0;
    for (const auto& [name, config] : nodes) {
      listing_nodes += static_cast<int>(config.topic_set.count(topic));
    }
    EXPECT_EQ(listing_nodes, 1) << topic << " must be reported by exactly one node";
  }
  EXPECT_FALSE(peer_.calibrationSensors().empty());
}

TEST_F(ConfigLoading, AbsentOptionalSectionsEmptyTheirTables) {
  loadFullDocument();
  ASSERT_TRUE(
      diagnosis_.loadConfigFromFile(files_.write("sensors.yaml", "sensors:\n" + sensorEntry("s"))));
  EXPECT_TRUE(peer_.nodeConfigs().empty());
  EXPECT_TRUE(peer_.calibrationSensors().empty());
  EXPECT_EQ(peer_.thresholds().size(), 1u);
}

TEST_F(ConfigLoading, ReplacesRegisteredThresholdsWithTheFilesOnly) {
  ASSERT_TRUE(diagnosis_.Register("runtime_only", 5.0F, 0.5F, 100, 2));
  ASSERT_TRUE(diagnosis_.Register("scan_1", 5.0F, 0.5F, 100, 2));
  loadFullDocument();
  const auto thresholds = peer_.thresholds();
  EXPECT_EQ(thresholds.count("runtime_only"), 0u);
  EXPECT_EQ(thresholds.at("scan_1").cutoff_timeout_ms, 500);
  EXPECT_EQ(thresholds.at("scan_1").abnormal_duration_ms, 1000);
}

TEST_F(ConfigLoading, NullTopicAndCalibrationElementsReadAsNull) {
  ASSERT_TRUE(diagnosis_.loadConfigFromFile(
      files_.write("nulls.yaml", "nodes:\n  n:\n    topics: [~]\n" + test_support::validSensors() +
                                     "calibration_sensors: [~, imu]\n")));
  EXPECT_EQ(peer_.nodeConfigs().at("n").topics, std::vector<std::string>{"null"});
  EXPECT_EQ(peer_.calibrationSensors(), (std::vector<std::string>{"null", "imu"}));
}

TEST_F(ConfigLoading, ResetsTheRuntimeOfListedNodesOnly) {
  loadFullDocument();
  peer_.markTopicReported("lidar_node", "scan_1");
  peer_.markTopicReported("unlisted_node", "scan_1");
  loadFullDocument();
  const auto states = peer_.nodeStates();
  EXPECT_FALSE(states.at("lidar_node").registered);
  EXPECT_TRUE(states.at("lidar_node").topic_states.empty());
  EXPECT_TRUE(states.at("unlisted_node").registered)
      << "a node the file does not list keeps its record";
  EXPECT_EQ(states.at("unlisted_node").topic_states.size(), 1u);
}

TEST_F(ConfigLoading, LoadingTheSameFileTwiceGivesTheSameTables) {
  loadFullDocument();
  const auto thresholds = peer_.thresholds();
  const auto calibration = peer_.calibrationSensors();
  loadFullDocument();
  EXPECT_EQ(peer_.thresholds(), thresholds);
  EXPECT_EQ(peer_.calibrationSensors(), calibration);
  EXPECT_EQ(peer_.nodeConfigs().size(), 2u);
}

TEST_F(ConfigLoading, FailedValidationChangesNothing) {
  loadFullDocument();
  const std::string document = "sensors:\n" + sensorEntry("s", {{"low_ratio", "0"}});
  const auto lines = expectRejectedWithoutChange(document);
  EXPECT_EQ(lines,
            (std::vector<std::string>{
                "[ERROR] Sensor 's' has invalid low_ratio: 0 (must be 0 < ratio <= 1)",
                "[ERROR] Config validation failed for file: " + files_.path("rejected.yaml")}));
}

TEST_F(ConfigLoading, TopicThatIsASequenceFailsTheWholeLoad) {
  loadFullDocument();
  const auto lines =
      expectRejectedWithoutChange("nodes:\n  a:\n    topics: [scan_1]\n  b:\n    topics: [[x]]\n" +
                                  test_support::validSensors());
  EXPECT_EQ(lines,
            std::vector<std::string>{"[ERROR] YAML parsing error in config file '" +
                                     files_.path("rejected.yaml") +
                                     "': yaml-cpp: error at line 5, column 14: bad conversion"});
}

TEST_F(ConfigLoading, CalibrationElementThatIsASequenceFailsTheWholeLoad) {
  loadFullDocument();
  const auto lines = expectRejectedWithoutChange("nodes:\n  a:\n    topics: [scan_1]\n" +
                                                 test_support::validSensors() +
                                                 "calibration_sensors: [imu, [x]]\n");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("[ERROR] YAML parsing error in config file '", 0), 0u) << lines[0];
  EXPECT_NE(lines[0].find("bad conversion"), std::string::npos) << lines[0];
}

TEST_F(ConfigLoading, NodesAsANonEmptySequenceFailsTheWholeLoad) {
  loadFullDocument();
  const auto lines = expectRejectedWithoutChange("nodes: [a]\n" + test_support::validSensors());
  EXPECT_EQ(lines,
            std::vector<std::string>{
                "[ERROR] YAML parsing error in config file '" + files_.path("rejected.yaml") +
                "': invalid node; this may result from using a map iterator as a sequence "
                "iterator, or vice-versa"});
}

TEST_F(ConfigLoading, SyntaxErrorChangesNothing) {
  loadFullDocument();
  const auto lines = expectRejectedWithoutChange("sensors: [1, 2\n");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("[ERROR] YAML parsing error in config file '", 0), 0u) << lines[0];
}

TEST_F(ConfigLoading, ScalarDocumentIsReportedAsAParsingError) {
  loadFullDocument();
  const auto lines = expectRejectedWithoutChange("just a scalar\n");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("[ERROR] YAML parsing error in config file '", 0), 0u) << lines[0];
}

TEST_F(ConfigLoading, MissingFileIsReportedAndItsPathKept) {
  const std::string path = files_.path("absent.yaml");
  test_support::LogCapture capture;
  EXPECT_FALSE(diagnosis_.initializeFromConfig(path));
  EXPECT_EQ(capture.lines(),
            (std::vector<std::string>{
                "[ERROR] YAML parsing error in config file '" + path + "': bad file: " + path,
                "[ERROR] Failed to initialize from config file: " + path}));
  EXPECT_EQ(peer_.configFilePath(), path) << "a later reload needs the path";
  EXPECT_EQ(peer_.lastConfigMtime(), 0);
}

TEST_F(ConfigLoading, DirectoryIsReportedAsALoadError) {
  loadFullDocument();
  const std::string directory = files_.path("");
  test_support::LogCapture capture;
  EXPECT_FALSE(diagnosis_.loadConfigFromFile(directory));
  const auto lines = capture.lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "[ERROR] Error loading config file '" + directory + "': Is a directory");
  EXPECT_EQ(peer_.thresholds().size(), 2u);
}

TEST_F(ConfigLoading, StoresTheModificationTimeInWholeSeconds) {
  const std::string path = files_.write("full.yaml", kFullDocument);
  const timespec times[2] = {{1700000000, 123456789}, {1700000000, 987654321}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);

  EXPECT_EQ(Diagnosis::getConfigFileModifiedTime(path).time_since_epoch().count(),
            1700000000LL * 1000000000LL);
  ASSERT_TRUE(diagnosis_.loadConfigFromFile(path));
  EXPECT_EQ(peer_.lastConfigMtime(), 1700000000LL * 1000000000LL);
  EXPECT_EQ(Diagnosis::getConfigFileModifiedTime(files_.path("absent.yaml")),
            Diagnosis::FileTime{});
}

}  // namespace
