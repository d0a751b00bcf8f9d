// The threshold file end to end: validation of a parsed document, loading it
// into the tables (and that a bad file changes nothing), explicit
// initialisation, thresholds registered at run time and nodes registering.
#include <fcntl.h>
#include <sys/stat.h>
#include <yaml-cpp/yaml.h>

#include <functional>
#include <limits>

#include "rclcpp/rclcpp.hpp"
#include "support/diagnosis_test_peer.hpp"
#include "support/test_support.hpp"

namespace {

using test_support::Lines;
using test_support::sensorEntry;
using test_support::validSensors;

const std::string kSensors = validSensors();
const char kNoSensors[] = "[ERROR] Config file must contain 'sensors' map";
const char kNotAMap[] = "[ERROR] Node 'n1' config must be a map";
const char kNoTopics[] = "[ERROR] Node 'n1' must have 'topics' sequence";
const char kCalibration[] = "[ERROR] calibration_sensors must have sensor id sequence";

/// A "sensors" section with one entry "s", `key` set to `value`.
std::string with(const std::string& key, const std::string& value) {
  return "sensors:\n" + sensorEntry("s", {{key, value}});
}
std::string missing(const std::string& key, const std::string& sensor = "s") {
  return "[ERROR] Sensor '" + sensor + "' missing required field: " + key;
}
std::string typeError(int line, int column, const std::string& sensor = "s") {
  return "[ERROR] Sensor '" + sensor + "' has invalid field type: yaml-cpp: error at line " +
         std::to_string(line) + ", column " + std::to_string(column) + ": bad conversion";
}
std::string range(const std::string& key, const std::string& shown,
                  const std::string& sensor = "s") {
  return "[ERROR] Sensor '" + sensor + "' has invalid " + key + ": " + shown + " (" +
         (key == "low_ratio" ? "must be 0 < ratio <= 1" : "must be > 0") + ")";
}

std::string diagnosticsPeriod(const std::string& shown) {
  return "[ERROR] Diagnostics config has invalid period_ms: " + shown +
         " (must be a whole number >= 100)";
}

TEST(ConfigValidation, AnswersAndLogsEveryProblemInOrder) {
  const struct {
    std::string document;
    Lines messages;
  } rows[] = {
      // clang-format off
      {"", {kNoSensors}},
      {"sensors: [a, b]\n", {kNoSensors}},
      {"sensors: {}\n", {"[ERROR] No sensors configured"}},
      {kSensors, {}},
      {"nodes: [a]\n" + kSensors, {}},
      {"nodes:\n  n1: [a]\n" + kSensors, {kNotAMap}},
      {"nodes:\n  n1: {rate: 1}\n" + kSensors, {kNoTopics}},
      {"nodes:\n  n1: {topics: a}\n" + kSensors, {kNoTopics}},
      {"nodes:\n  n1: {topics: []}\n" + kSensors, {}},
      {"nodes: {n1: 5, n2: 6}\nsensors: {}\n", {kNotAMap}},
      {"nodes:\n  ~: 5\n" + kSensors, {"[ERROR] Node 'null' config must be a map"}},
      {kSensors + "calibration_sensors:\n", {kCalibration}},
      {kSensors + "calibration_sensors: imu\n", {kCalibration}},
      {kSensors + "calibration_sensors: []\n", {}},
      {"sensors:\n  s1: 5\n" + sensorEntry("s2"), {"[ERROR] Sensor 's1' config must be a map"}},
      {"sensors:\n" + sensorEntry("s", {}, {"fps_recovery_duration_ms", "low_ratio", "abnormal_duration_ms"}), {missing("low_ratio"), missing("abnormal_duration_ms"), missing("fps_recovery_duration_ms")}},
      {with("normal_hz", "~"), {typeError(3, 16)}},
      {with("cutoff_timeout_ms", "1.5"), {typeError(5, 24)}},
      {with("fps_recovery_threshold", "1e40"), {typeError(8, 29)}},
      {with("low_ratio", "{a: 1}"), {typeError(4, 16)}},
      {"sensors:\n" + sensorEntry("s", {{"cutoff_recovery_threshold", "x"}, {"abnormal_duration_ms", "y"}}), {typeError(7, 27)}},
      {"sensors:\n" + sensorEntry("s", {{"cutoff_timeout_ms", "0x1F4"}, {"abnormal_duration_ms", "010"}}), {}},
      {"sensors:\n" + sensorEntry("~", {{"normal_hz", "0"}}), {range("normal_hz", "0", "null")}},
      {"sensors:\n  s: {normal_hz: 0.001, low_ratio: 0.001, cutoff_timeout_ms: 1, cutoff_recovery_threshold: 1, abnormal_duration_ms: 1, fps_recovery_threshold: 0.001, fps_recovery_duration_ms: 1}", {}},
      {with("low_ratio", "1"), {}},
      {with("normal_hz", "0"), {range("normal_hz", "0")}},
      {with("low_ratio", "0"), {range("low_ratio", "0")}},
      {with("low_ratio", "1.01"), {range("low_ratio", "1.01")}},
      {with("cutoff_timeout_ms", "0"), {range("cutoff_timeout_ms", "0")}},
      {with("abnormal_duration_ms", "-5"), {range("abnormal_duration_ms", "-5")}},
      {with("cutoff_recovery_threshold", "0"), {range("cutoff_recovery_threshold", "0")}},
      {with("fps_recovery_threshold", "0.0"), {range("fps_recovery_threshold", "0")}},
      {with("fps_recovery_duration_ms", "0"), {range("fps_recovery_duration_ms", "0")}},
      // Not-a-number passes every comparison and would switch the frame-rate check off.
      {with("normal_hz", ".nan"), {range("normal_hz", "nan")}},
      {with("normal_hz", ".inf"), {range("normal_hz", "inf")}},
      {with("low_ratio", ".NaN"), {range("low_ratio", "nan")}},
      {with("fps_recovery_threshold", ".NAN"), {range("fps_recovery_threshold", "nan")}},
      {"sensors:\n" + sensorEntry("s", {{"normal_hz", "0"}, {"low_ratio", "2"}}), {range("normal_hz", "0")}},
      {"sensors:\n" + sensorEntry("a", {{"normal_hz", "0"}}) + sensorEntry("b"), {range("normal_hz", "0", "a")}},
      {"sensors:\n" + sensorEntry("a", {{"normal_hz", "0"}}) + sensorEntry("b", {}, {"low_ratio"}), {range("normal_hz", "0", "a"), missing("low_ratio", "b")}},
      {"sensors:\n" + sensorEntry("a", {}, {"low_ratio"}) + sensorEntry("b", {{"normal_hz", "0"}}), {missing("low_ratio", "a")}},
      {"sensors:\n" + sensorEntry("a", {{"normal_hz", "x"}}) + "  b: 1\n", {typeError(3, 16, "a"), "[ERROR] Sensor 'b' config must be a map"}},
      // yaml-cpp keeps a key written twice and reads only the first.
      {"sensors:\n" + sensorEntry("s") + "    normal_hz: -1.0\n" + sensorEntry("s"), {"[ERROR] Duplicate key 'normal_hz' at line 10, column 5", "[ERROR] Duplicate key 's' at line 11, column 3"}},
      {"nodes: {~: {topics: []}, null: {topics: []}}\n" + kSensors, {"[ERROR] Duplicate key 'null' at line 1, column 26"}},
      // An alias shares its node, which may even contain itself.
      {"sensors: &a {s: *a}\n", {missing("normal_hz"), missing("low_ratio"), missing("cutoff_timeout_ms"), missing("abnormal_duration_ms"), missing("cutoff_recovery_threshold"), missing("fps_recovery_threshold"), missing("fps_recovery_duration_ms")}},
      {kSensors + "diagnostics: {period_ms: 100}\n", {}},
      {kSensors + "diagnostics: {period_ms: 0x3E8, hardware_id: 7, colour: red}\n", {}},
      {kSensors + "diagnostics: {period_ms: 100, hardware_id: ~}\n", {}},
      {kSensors + "diagnostics:\n", {"[ERROR] Diagnostics config must be a map"}},
      {kSensors + "diagnostics: {hardware_id: r1}\n", {"[ERROR] Diagnostics config missing required field: period_ms"}},
      {kSensors + "diagnostics: {period_ms: 99}\n", {diagnosticsPeriod("99")}},
      {kSensors + "diagnostics: {period_ms: 1000.0}\n", {diagnosticsPeriod("1000.0")}},
      {kSensors + "diagnostics: {period_ms: [1000]}\n", {diagnosticsPeriod("not a scalar")}},
      {kSensors + "diagnostics: {period_ms: 100, hardware_id: {a: 1}}\n", {"[ERROR] Diagnostics config has invalid hardware_id (must be a string)"}},
      // Event codes: the file's, or a topic's own by name, each in force once.
      {kSensors + "    timeout_event_id: 0x2329\n    frame_rate_event_id: 9002\n", {}},
      {kSensors + "    timeout_event_id: 1.5\n", {"[ERROR] Sensor 's' has invalid timeout_event_id: 1.5 at line 10 (must be a whole number from 1 to 2147483647)"}},
      {kSensors + "    frame_rate_event_id: 0\n    timeout_event_id: 2147483648\n", {"[ERROR] Sensor 's' has invalid timeout_event_id: 2147483648 at line 11 (must be a whole number from 1 to 2147483647)", "[ERROR] Sensor 's' has invalid frame_rate_event_id: 0 at line 10 (must be a whole number from 1 to 2147483647)"}},
      {kSensors + "    timeout_event_id: 8024\n    frame_rate_event_id: 8050\n", {"[ERROR] Sensor 's' has timeout_event_id 8024 at line 10, the code of the LOCALIZATION_LOST_STATUS report", "[ERROR] Sensor 's' has frame_rate_event_id 8050 at line 11, the code of the calibration report"}},
      {kSensors + "    timeout_event_id: 9001\n    frame_rate_event_id: 9001\n", {"[ERROR] Sensor 's' has frame_rate_event_id 9001 at line 11, already the timeout_event_id of sensor 's' at line 10"}},
      {"sensors:\n" + sensorEntry("scan_1") + sensorEntry("a") + "    timeout_event_id: 8008\n", {"[ERROR] Sensor 'a' has timeout_event_id 8008 at line 18, already the frame_rate_event_id of sensor 'scan_1' (from the code table) at line 2"}},
      {kSensors + "    frame_rate_event_id: 8001\n" + sensorEntry("scan_1"), {"[ERROR] Sensor 'scan_1' has timeout_event_id 8001 (from the code table) at line 11, already the frame_rate_event_id of sensor 's' at line 10"}},
      {"sensors:\n" + sensorEntry("scan_1") + "    timeout_event_id: 9001\n" + sensorEntry("a") + "    timeout_event_id: 8001\n", {}},  // a code the file replaces is free
      {with("normal_hz", "0") + "    timeout_event_id: x\n", {range("normal_hz", "0")}},
      // clang-format on
  };
  Diagnosis diagnosis;
  for (const auto& row : rows) {
    const YAML::Node document = YAML::Load(row.document);
    test_support::LogCapture capture;
    EXPECT_EQ(diagnosis.validateConfig(document), row.messages.empty()) << row.document;
    EXPECT_EQ(capture.lines(), row.messages) << row.document;
  }
  // A threshold built with any integer field left unset is refused; copies compare equal.
  const SensorThreshold full{10.0F, 0.5F, 500, 3, 1000, 8.0F, 2000};
  for (const auto field :
       {&SensorThreshold::cutoff_timeout_ms, &SensorThreshold::cutoff_recovery_threshold,
        &SensorThreshold::abnormal_duration_ms, &SensorThreshold::fps_recovery_duration_ms}) {
    SensorThreshold threshold = full;
    threshold.*field = SensorThreshold{}.*field;
    EXPECT_FALSE(diagnosis.validateSensorThreshold("s", threshold));
  }
  EXPECT_TRUE((full == SensorThreshold(full) &&
              full != SensorThreshold{10, 0.5F, 500, 3, 1000, 8, 1}));
  // The loader reports these: a scalar document, and a name that is a sequence.
}

// Two nodes (one lists a topic twice), two sensors, two calibration ids.
const std::string kFullDocument =
    "nodes:\n  lidar_node: {topics: [scan_1, scan_2, scan_1]}\n  ultra_node: {topics: [u1]}\n"
    "sensors:\n" +
    sensorEntry("scan_1", {{"cutoff_timeout_ms", "0x1F4"}}) +
    sensorEntry("u1",
                {{"normal_hz", "20"}, {"low_ratio", "1"}, {"fps_recovery_threshold", "15.5"}}) +
    "calibration_sensors: [front_lidar, imu]\n";
const std::string kFullTables =
    "nodes: lidar_node[scan_1,scan_2,scan_1] ultra_node[u1]\n"
    "sensors: scan_1{10,0.5,500,3,1000,8,2000} u1{20,1,500,3,1000,15.5,2000}\n"
    "calibration: front_lidar,imu\n";

class ConfigLoading : public ::testing::Test {
 protected:
  void load(const std::string& document) {
    ASSERT_TRUE(diagnosis_.loadConfigFromFile(files_.write("config.yaml", document)));
  }

  test_support::TempDir files_;
  Diagnosis diagnosis_;
  DiagnosisTestPeer peer_{diagnosis_};
};

TEST_F(ConfigLoading, TakesOverAllThreeSectionsAndResetsOnlyTheNodesItLists) {
  load("nodes:\n  lidar_node: {topics: [scan_1]}\n  unlisted_node: {topics: [scan_1]}\n" +
       validSensors());
  for (const char* node : {"lidar_node", "unlisted_node"}) {
    ASSERT_TRUE(diagnosis_.AutoRegisterNode(node));
    peer_.record(node, "scan_1");
  }
  ASSERT_TRUE(diagnosis_.Register("runtime_only", 5.0F, 0.5F, 100, 2));
  const std::string path = files_.write("full.yaml", kFullDocument);
  const timespec times[2] = {{1700000000, 123456789}, {1700000000, 987654321}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  for (int load = 0; load < 2; ++load) {  // the second load gives the same tables
    test_support::LogCapture capture;
    ASSERT_TRUE(diagnosis_.loadConfigFromFile(path));
    EXPECT_EQ(capture.lines(), (Lines{"[INFO] Successfully loaded sensor config from: " + path,
                                      "[WARN] Topic u1 has no event codes and is not judged: give "
                                      "its sensor entry timeout_event_id and frame_rate_event_id"}));
    // Thresholds registered at run time are gone; a node the file no longer lists is kept.
    EXPECT_EQ(peer_.tables(),
              kFullTables + "runtime: lidar_node[] ultra_node[] unlisted_node+[scan_1]");
    EXPECT_EQ(peer_.lastConfigMtime(), 1700000000LL * 1000000000LL) << "whole seconds";
  }
  ASSERT_TRUE(diagnosis_.Register("scan_2", 5.0F, 0.5F, 100, 2) &&
              diagnosis_.AutoRegisterNode("lidar_node"));
  EXPECT_EQ(diagnosis_.snapshot().size(), 2u) << "scan_1, listed twice, shown once; scan_2";
  load("nodes:\n  n: {topics: [~]}\n" + validSensors() + "calibration_sensors: [~, imu]\n");
  // A null name reads as null.
  EXPECT_EQ(peer_.configured(),
            "nodes: n[null]\nsensors: s{10,0.5,500,3,1000,8,2000}\ncalibration: null,imu");
  load(validSensors() + "diagnostics: {period_ms: 200}\n");
  EXPECT_NE(peer_.tables().find("\ndiagnostics: 200 \n"), std::string::npos);
  load(validSensors());  // absent optional sections leave their tables empty, the view off
  EXPECT_EQ(peer_.tables(),
            "nodes: \nsensors: s{10,0.5,500,3,1000,8,2000}\ncalibration: \nruntime: "
            "lidar_node+[] n[] ultra_node[] unlisted_node+[scan_1]");
  const YAML::Node document = YAML::Load(kFullDocument);  // the parsers, a table each
  EXPECT_TRUE(diagnosis_.parseNodeConfig(document["nodes"]) &&
              diagnosis_.parseSensorConfig(document["sensors"]) &&
              diagnosis_.parseCalibrationConfig(document["calibration_sensors"]));
  EXPECT_EQ(peer_.configured() + "\n", kFullTables);
}

TEST_F(ConfigLoading, BadFileOfAnyKindIsReportedAndChangesNothing) {
  const std::string path = files_.path("bad.yaml");
  const auto contents = [&path](const std::string& document) {
    return [&path, document] { std::ofstream(path) << document; };
  };
  const std::string parse_error = "[ERROR] YAML parsing error in config file '" + path + "': ";
  const struct {
    std::function<void()> make;
    Lines lines;
  } faults[] = {
      // clang-format off
      {contents("sensors:\n" + sensorEntry("s", {{"low_ratio", "0"}})), {"[ERROR] Sensor 's' has invalid low_ratio: 0 (must be 0 < ratio <= 1)", "[ERROR] Config validation failed for file: " + path}},
      {contents("nodes:\n  a: {topics: [scan_1]}\n  b: {topics: [[x]]}\n" + validSensors()), {parse_error + "yaml-cpp: error at line 3, column 16: bad conversion"}},
      {contents(validSensors() + "calibration_sensors: [imu, [x]]\n"), {parse_error + "yaml-cpp: error at line 10, column 28: bad conversion"}},
      {contents("nodes: [a]\n" + validSensors()), {parse_error + "invalid node; this may result from using a map iterator as a sequence iterator, or vice-versa"}},
      {contents("sensors: [1, 2\n"), {parse_error + "yaml-cpp: error at line 2, column 1: end of sequence flow not found"}},
      {contents("just a scalar\n"), {parse_error + "yaml-cpp: error at line 1, column 1: operator[] call on a scalar (key: \"nodes\")"}},
      {[] {}, {parse_error + "bad file: " + path}},
      {[&path] { std::filesystem::create_directory(path); }, {"[ERROR] Error loading config file '" + path + "': Is a directory"}},
      {[&path] { std::filesystem::create_symlink(path + ".absent", path); }, {parse_error + "bad file: " + path}},
      {[&path] { std::filesystem::create_symlink(path, path); }, {parse_error + "bad file: " + path}},
      {contents(""), {"[ERROR] Config file must contain 'sensors' map", "[ERROR] Config validation failed for file: " + path}},
      {contents(validSensors().substr(0, 43)), {missing("low_ratio"), missing("cutoff_timeout_ms"), missing("abnormal_duration_ms"), missing("cutoff_recovery_threshold"), missing("fps_recovery_threshold"), missing("fps_recovery_duration_ms"), "[ERROR] Config validation failed for file: " + path}},
      {contents(std::string("\x89\x01\xfe{[\"\x00\xff:\n-\t&*!|>%@`", 20)), {parse_error + "yaml-cpp: error at line 1, column 9: unknown escape character: \xFF"}},
      {contents(std::string(10000, '[') + std::string(10000, ']')), {parse_error + "yaml-cpp: error at line 1, column 1: bad file"}},
      {contents(validSensors() + "diagnostics: {period_ms: 50}\n"), {diagnosticsPeriod("50"), "[ERROR] Config validation failed for file: " + path}},
      // Last: a user who reads a file of mode 000 anyway (root) skips the test here.
      {[&] { contents(validSensors())(); std::filesystem::permissions(path, std::filesystem::perms::none); }, {parse_error + "bad file: " + path}},
      // clang-format on
  };
  load(kFullDocument + "diagnostics: {period_ms: 1000, hardware_id: robot_1}\n");
  ASSERT_TRUE(diagnosis_.AutoRegisterNode("lidar_node"));
  ASSERT_TRUE(diagnosis_.Register("runtime_topic", 5.0F, 0.5F, 100, 2));
  const std::string tables = peer_.tables();
  const int64_t mtime = peer_.lastConfigMtime();
  for (const auto& fault : faults) {
    std::filesystem::remove_all(path);
    fault.make();
    if (&fault == std::end(faults) - 1 && std::ifstream(path).good())
      GTEST_SKIP() << "rows above checked; mode 000 left out: this user (root?) reads it anyway";
    test_support::LogCapture capture;
    EXPECT_FALSE(diagnosis_.initializeFromConfig(path));
    EXPECT_FALSE(diagnosis_.reloadConfig());
    // The load's lines; then a reload's, which fails alike. Registrations and
    // runtime thresholds stay, as does the time of the last good load; the
    // path stays for a later reload.
    Lines expected = fault.lines;
    expected.push_back("[ERROR] Failed to initialize from config file: " + path);
    expected.push_back("[INFO] Reloading config from: " + path);
    expected.insert(expected.end(), fault.lines.begin(), fault.lines.end());
    expected.push_back("[INFO] Config reload failed, rolling back to previous configuration");
    EXPECT_EQ(capture.lines(), expected);
    EXPECT_EQ(
        fmt::format("{}{}{}", peer_.tables(), peer_.lastConfigMtime(), peer_.configFilePath()),
        fmt::format("{}{}{}", tables, mtime, path))
        << expected[0];
  }
}

TEST_F(ConfigLoading, InitializeCreatesTheNodeAndItsPublishersOnceAndKeepsThemAfterAFailedLoad) {
  // Discovery is asynchronous both ways: the graph is polled until it shows one publisher.
  const rclcpp::Node observer("observer");
  const auto publishers = [&observer] {
    test_support::eventually(
        [&observer] { return observer.count_publishers("chassis_loc_diag_topic") == 1; });
    return observer.count_publishers("chassis_loc_diag_topic");
  };
  EXPECT_FALSE(diagnosis_.initialize(files_.write("broken.yaml", "sensors: {}\n")));
  const auto first_node = peer_.node();
  ASSERT_NE(first_node, nullptr);
  EXPECT_EQ(publishers(), 1u);
  const std::string valid = files_.write("valid.yaml", validSensors());
  EXPECT_TRUE(diagnosis_.initialize(valid));
  test_support::LogCapture capture;
  EXPECT_TRUE(diagnosis_.initialize(files_.path("absent.yaml")));  // nothing created or read again
  EXPECT_EQ(capture.lines(), Lines{"[WARN] Diagnosis already initialized"});
  // The retry after the failed load creates a new node; the first node's publishers go.
  // clang-format off
  EXPECT_EQ(fmt::format("{} {} {} {}{}", peer_.configFilePath() == valid, peer_.node() != first_node, peer_.node()->get_name(), peer_.publishers(), publishers()),
            "true true diagnosis_node /sensor_proxy_diag_topic:10 /chassis_pnc_diag_topic:10 /chassis_loc_diag_topic:10 1");
  // clang-format on
}

TEST_F(ConfigLoading, RegisterStoresFourValidThresholdsAndTopicsBelongOnlyToTheirNodes) {
  constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
  constexpr float kInfinity = std::numeric_limits<float>::infinity();
  const struct {
    float normal_hz, low_ratio;
    long cutoff_timeout_ms, cutoff_recovery_threshold;
    std::string stored;  // empty: refused, the loaded thresholds stay
  } rows[] = {
      // clang-format off
      {10.0F, 1.0F, 500, 3, "s{10,1,500,3,0,0,0}"}, {0.1F, 0.1F, 1, 1, "s{0.1,0.1,1,1,0,0,0}"},
      {10.0F, 0.0F, 500, 3, ""}, {10.0F, 1.5F, 500, 3, ""}, {0.0F, 0.5F, 500, 3, ""}, {-10.0F, 0.5F, 500, 3, ""},
      {10.0F, 0.5F, 0, 3, ""}, {10.0F, 0.5F, 500, 0, ""}, {kNaN, 0.5F, 500, 3, ""}, {kInfinity, 0.5F, 500, 3, ""},
      {10.0F, kNaN, 500, 3, ""},
      // clang-format on
  };
  for (const auto& row : rows) {
    load("nodes:\n  lidar_node: {topics: [scan_1, scan_2]}\n" + validSensors());
    test_support::LogCapture capture;
    EXPECT_EQ(diagnosis_.Register("s", row.normal_hz, row.low_ratio, row.cutoff_timeout_ms,
                                  row.cutoff_recovery_threshold),
              !row.stored.empty());
    EXPECT_EQ(capture.lines(),
              Lines{row.stored.empty() ? "[ERROR] Invalid sensor threshold: s"
                                       : "[ERROR] Registered sensor threshold: s"});
    const std::string stored = row.stored.empty() ? "s{10,0.5,500,3,1000,8,2000}" : row.stored;
    EXPECT_NE(peer_.tables().find("sensors: " + stored + "\n"), std::string::npos) << stored;
  }
  std::string listed;  // names are exact; thresholds alone do not list a topic
  for (const auto& [topic, node] : {std::pair{"scan_2", "lidar_node"},
                                    {"SCAN_2", "lidar_node"},
                                    {"s", "lidar_node"},
                                    {"scan_1", "ghost_node"}})
    listed += diagnosis_.isTopicInNode(topic, node) ? '+' : '-';
  EXPECT_EQ(listed, "+---");
}

}  // namespace
