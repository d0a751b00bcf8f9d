#include <gtest/gtest.h>
#include <yaml-cpp/yaml.h>

#include <string>
#include <vector>

#include "kelvane_rovimar_diagnosis/sensor_diagnosis.hpp"
#include "support/log_capture.hpp"
#include "support/threshold_yaml.hpp"

namespace {

using test_support::sensorEntry;
using test_support::validSensors;

struct ValidationCase {
  std::string name;
  std::string document;
  bool valid;
  std::vector<std::string> messages;
};

void PrintTo(const ValidationCase& row, std::ostream* out) { *out << row.name; }

class ConfigValidation : public ::testing::TestWithParam<ValidationCase> {};

TEST_P(ConfigValidation, AnswersAndLogsEveryProblemInOrder) {
  const ValidationCase& row = GetParam();
  const YAML::Node document = YAML::Load(row.document);
  Diagnosis diagnosis;
  test_support::LogCapture capture;
  const bool valid = diagnosis.validateConfig(document);
  const std::vector<std::string> messages = capture.lines();
  EXPECT_EQ(valid, row.valid) << row.document;
  EXPECT_EQ(messages, row.messages) << row.document;
}

std::string conversionError(const std::string& sensor, int line, int column) {
  return "[ERROR] Sensor '" + sensor + "' has invalid field type: yaml-cpp: error at line " +
         std::to_string(line) + ", column " + std::to_string(column) + ": bad conversion";
}

const char kNoSensorsMap[] = "[ERROR] Config file must contain 'sensors' map";

// Sections: which forms pass and which end validation.
INSTANTIATE_TEST_SUITE_P(
    Sections, ConfigValidation,
    ::testing::Values(
        ValidationCase{"EmptyDocument", "", false, {kNoSensorsMap}},
        ValidationCase{"NoSensorsKey", "nodes: {}\n", false, {kNoSensorsMap}},
        ValidationCase{"SensorsAsSequence", "sensors: [a, b]\n", false, {kNoSensorsMap}},
        ValidationCase{"SensorsWithoutValue", "sensors:\n", false, {kNoSensorsMap}},
        ValidationCase{
            "SensorsEmptyMapping", "sensors: {}\n", false, {"[ERROR] No sensors configured"}},
        ValidationCase{"OnlySensorsIsEnough", validSensors(), true, {}},
        ValidationCase{"NodesAsSequencePassesHere", "nodes: [a]\n" + validSensors(), true, {}},
        ValidationCase{"NodesAsScalarPasses", "nodes: 3\n" + validSensors(), true, {}},
        ValidationCase{"NodeThatIsNotAMapping",
                       "nodes:\n  n1: [scan_1]\n" + validSensors(),
                       false,
                       {"[ERROR] Node 'n1' config must be a map"}},
        ValidationCase{"NodeWithoutTopics",
                       "nodes:\n  n1:\n    rate: 1\n" + validSensors(),
                       false,
                       {"[ERROR] Node 'n1' must have 'topics' sequence"}},
        ValidationCase{"NodeTopicsWithoutValue",
                       "nodes:\n  n1:\n    topics:\n" + validSensors(),
                       false,
                       {"[ERROR] Node 'n1' must have 'topics' sequence"}},
        ValidationCase{"NodeTopicsAsScalar",
                       "nodes:\n  n1:\n    topics: scan_1\n" + validSensors(),
                       false,
                       {"[ERROR] Node 'n1' must have 'topics' sequence"}},
        ValidationCase{"NodeWithEmptyTopicsPasses",
                       "nodes:\n  n1:\n    topics: []\n" + validSensors(),
                       true,
                       {}},
        ValidationCase{"BadNodeEndsValidationBeforeSensors",
                       "nodes:\n  n1: 5\n  n2: 6\nsensors: {}\n",
                       false,
                       {"[ERROR] Node 'n1' config must be a map"}},
        ValidationCase{"NullNodeNameReadsAsNull",
                       "nodes:\n  ~: 5\n" + validSensors(),
                       false,
                       {"[ERROR] Node 'null' config must be a map"}},
        ValidationCase{"CalibrationWithoutValue",
                       validSensors() + "calibration_sensors:\n",
                       false,
                       {"[ERROR] calibration_sensors must have sensor id sequence"}},
        ValidationCase{"CalibrationAsScalar",
                       validSensors() + "calibration_sensors: imu\n",
                       false,
                       {"[ERROR] calibration_sensors must have sensor id sequence"}},
        ValidationCase{"CalibrationEmptySequencePasses",
                       validSensors() + "calibration_sensors: []\n",
                       true,
                       {}}),
    [](const auto& info) { return info.param.name; });

// Sensor entries: forms, missing keys and conversions.
INSTANTIATE_TEST_SUITE_P(
    Entries, ConfigValidation,
    ::testing::Values(
        ValidationCase{"EntryThatIsNotAMapping",
                       "sensors:\n  s1: 5\n" + sensorEntry("s2"),
                       false,
                       {"[ERROR] Sensor 's1' config must be a map"}},
        ValidationCase{"ThreeMissingKeysInKeyOrder",
                       "sensors:\n" + sensorEntry("s", {},
                                                  {"fps_recovery_duration_ms", "low_ratio",
                                                   "abnormal_duration_ms"}),
                       false,
                       {"[ERROR] Sensor 's' missing required field: low_ratio",
                        "[ERROR] Sensor 's' missing required field: abnormal_duration_ms",
                        "[ERROR] Sensor 's' missing required field: fps_recovery_duration_ms"}},
        ValidationCase{"NullValueIsPresentButDoesNotConvert",
                       "sensors:\n" + sensorEntry("s", {{"normal_hz", "~"}}),
                       false,
                       {conversionError("s", 3, 16)}},
        ValidationCase{"LettersInAFloat",
                       "sensors:\n" + sensorEntry("s", {{"normal_hz", "1O.0"}}),
                       false,
                       {conversionError("s", 3, 16)}},
        ValidationCase{"FractionInAnIntegerField",
                       "sensors:\n" + sensorEntry("s", {{"cutoff_timeout_ms", "1.5"}}),
                       false,
                       {conversionError("s", 5, 24)}},
        ValidationCase{"UnitSuffixInAnIntegerField",
                       "sensors:\n" + sensorEntry("s", {{"cutoff_timeout_ms", "10ms"}}),
                       false,
                       {conversionError("s", 5, 24)}},
        ValidationCase{
            "IntegerTooLargeForSixtyFourBits",
            "sensors:\n" + sensorEntry("s", {{"fps_recovery_duration_ms", "99999999999999999999"}}),
            false,
            {conversionError("s", 9, 31)}},
        ValidationCase{"FloatTooLargeForSinglePrecision",
                       "sensors:\n" + sensorEntry("s", {{"fps_recovery_threshold", "1e40"}}),
                       false,
                       {conversionError("s", 8, 29)}},
        ValidationCase{"MappingWhereANumberBelongs",
                       "sensors:\n" + sensorEntry("s", {{"low_ratio", "{a: 1}"}}),
                       false,
                       {conversionError("s", 4, 16)}},
        ValidationCase{"ConversionFollowsKeyOrderNotFileOrder",
                       "sensors:\n" + sensorEntry("s", {{"cutoff_recovery_threshold", "x"},
                                                        {"abnormal_duration_ms", "y"}}),
                       false,
                       {conversionError("s", 7, 27)}},
        ValidationCase{"HexadecimalAndOctalIntegersConvert",
                       "sensors:\n" + sensorEntry("s", {{"cutoff_timeout_ms", "0x1F4"},
                                                        {"abnormal_duration_ms", "010"}}),
                       true,
                       {}},
        ValidationCase{"NullSensorNameReadsAsNull",
                       "sensors:\n" + sensorEntry("~", {{"normal_hz", "0"}}),
                       false,
                       {"[ERROR] Sensor 'null' has invalid normal_hz: 0 (must be > 0)"}}),
    [](const auto& info) { return info.param.name; });

std::string rangeRow(const std::string& key, const std::string& value) {
  return "sensors:\n" + sensorEntry("s", {{key, value}});
}

std::string rangeError(const std::string& key, const std::string& shown, const std::string& rule) {
  return "[ERROR] Sensor 's' has invalid " + key + ": " + shown + " (" + rule + ")";
}

const char kPositive[] = "must be > 0";
const char kRatio[] = "must be 0 < ratio <= 1";

// Ranges, their boundaries, and values that are not finite numbers.
INSTANTIATE_TEST_SUITE_P(
    Ranges, ConfigValidation,
    ::testing::Values(
        ValidationCase{"SmallestValidValues",
                       "sensors:\n" + sensorEntry("s", {{"normal_hz", "0.001"},
                                                        {"low_ratio", "0.001"},
                                                        {"cutoff_timeout_ms", "1"},
                                                        {"cutoff_recovery_threshold", "1"},
                                                        {"abnormal_duration_ms", "1"},
                                                        {"fps_recovery_threshold", "0.001"},
                                                        {"fps_recovery_duration_ms", "1"}}),
                       true,
                       {}},
        ValidationCase{"LowRatioOfExactlyOne", rangeRow("low_ratio", "1"), true, {}},
        ValidationCase{"NormalHzZero",
                       rangeRow("normal_hz", "0"),
                       false,
                       {rangeError("normal_hz", "0", kPositive)}},
        ValidationCase{"NormalHzNegative",
                       rangeRow("normal_hz", "-1.5"),
                       false,
                       {rangeError("normal_hz", "-1.5", kPositive)}},
        ValidationCase{"LowRatioZero",
                       rangeRow("low_ratio", "0"),
                       false,
                       {rangeError("low_ratio", "0", kRatio)}},
        ValidationCase{"LowRatioJustAboveOne",
                       rangeRow("low_ratio", "1.01"),
                       false,
                       {rangeError("low_ratio", "1.01", kRatio)}},
        ValidationCase{"CutoffTimeoutZero",
                       rangeRow("cutoff_timeout_ms", "0"),
                       false,
                       {rangeError("cutoff_timeout_ms", "0", kPositive)}},
        ValidationCase{"AbnormalDurationNegative",
                       rangeRow("abnormal_duration_ms", "-5"),
                       false,
                       {rangeError("abnormal_duration_ms", "-5", kPositive)}},
        ValidationCase{"CutoffRecoveryThresholdZero",
                       rangeRow("cutoff_recovery_threshold", "0"),
                       false,
                       {rangeError("cutoff_recovery_threshold", "0", kPositive)}},
        ValidationCase{"FpsRecoveryThresholdZero",
                       rangeRow("fps_recovery_threshold", "0.0"),
                       false,
                       {rangeError("fps_recovery_threshold", "0", kPositive)}},
        ValidationCase{"FpsRecoveryDurationZero",
                       rangeRow("fps_recovery_duration_ms", "0"),
                       false,
                       {rangeError("fps_recovery_duration_ms", "0", kPositive)}},
        ValidationCase{"OnlyTheFirstInvalidFieldIsReported",
                       "sensors:\n" + sensorEntry("s", {{"normal_hz", "0"}, {"low_ratio", "2"}}),
                       false,
                       {rangeError("normal_hz", "0", kPositive)}},
        ValidationCase{"NormalHzNotANumber",
                       rangeRow("normal_hz", ".nan"),
                       false,
                       {rangeError("normal_hz", "nan", kPositive)}},
        ValidationCase{"NormalHzInfinite",
                       rangeRow("normal_hz", ".inf"),
                       false,
                       {rangeError("normal_hz", "inf", kPositive)}},
        ValidationCase{"LowRatioNotANumber",
                       rangeRow("low_ratio", ".NaN"),
                       false,
                       {rangeError("low_ratio", "nan", kRatio)}},
        ValidationCase{"LowRatioInfinite",
                       rangeRow("low_ratio", "+.inf"),
                       false,
                       {rangeError("low_ratio", "inf", kRatio)}},
        ValidationCase{"FpsRecoveryThresholdNotANumber",
                       rangeRow("fps_recovery_threshold", ".NAN"),
                       false,
                       {rangeError("fps_recovery_threshold", "nan", kPositive)}},
        ValidationCase{"FpsRecoveryThresholdNegativeInfinity",
                       rangeRow("fps_recovery_threshold", "-.inf"),
                       false,
                       {rangeError("fps_recovery_threshold", "-inf", kPositive)}}),
    [](const auto& info) { return info.param.name; });

// Several entries: once one fails, later ones are only checked for form and missing keys.
INSTANTIATE_TEST_SUITE_P(
    SeveralSensors, ConfigValidation,
    ::testing::Values(
        ValidationCase{"InvalidThenValidIsInvalid",
                       "sensors:\n" + sensorEntry("a", {{"normal_hz", "0"}}) + sensorEntry("b"),
                       false,
                       {"[ERROR] Sensor 'a' has invalid normal_hz: 0 (must be > 0)"}},
        ValidationCase{"RangeErrorThenMissingKeyLogsBoth",
                       "sensors:\n" + sensorEntry("a", {{"normal_hz", "0"}}) +
                           sensorEntry("b", {}, {"low_ratio"}),
                       false,
                       {"[ERROR] Sensor 'a' has invalid normal_hz: 0 (must be > 0)",
                        "[ERROR] Sensor 'b' missing required field: low_ratio"}},
        ValidationCase{"MissingKeyThenRangeErrorLogsOnlyTheFirst",
                       "sensors:\n" + sensorEntry("a", {}, {"low_ratio"}) +
                           sensorEntry("b", {{"normal_hz", "0"}}),
                       false,
                       {"[ERROR] Sensor 'a' missing required field: low_ratio"}},
        ValidationCase{"ConversionErrorThenNonMappingLogsBoth",
                       "sensors:\n" + sensorEntry("a", {{"normal_hz", "x"}}) + "  b: 1\n",
                       false,
                       {conversionError("a", 3, 16), "[ERROR] Sensor 'b' config must be a map"}},
        ValidationCase{
            "TwoValidSensors", "sensors:\n" + sensorEntry("a") + sensorEntry("b"), true, {}}),
    [](const auto& info) { return info.param.name; });

TEST(ConfigValidation, ScalarDocumentIsLeftToTheLoaderToReport) {
  Diagnosis diagnosis;
  EXPECT_THROW(diagnosis.validateConfig(YAML::Load("just a scalar")), YAML::Exception);
}

TEST(ConfigValidation, SensorNameThatIsASequenceIsLeftToTheLoaderToReport) {
  Diagnosis diagnosis;
  EXPECT_THROW(diagnosis.validateConfig(YAML::Load("sensors:\n  ? [a, b]\n  : {}\n")),
               YAML::Exception);
}

}  // namespace
